#pragma once

#include "net/SetStreamFormat.h"
#include "net/TZnGeneralServer.h"

#include <QString>
#include <memory>
#include <optional>


// Where a set's stream lands: the receiving program's side of one connection, called on the
// connection's own thread, one call at a time. The stream's component checks the framing; what
// the bytes mean (entries, paths, sizes) is the sink's to check against its manifest.
class SetSink {
public:
    virtual ~SetSink() = default;
    // The header arrived. False (with *refusal for the person) ends the connection without
    // acknowledgement, before any record is taken.
    virtual bool acceptHeader(const QByteArray &setId, const QByteArray &manifest, QString *refusal) = 0;
    // A data record: the descriptor of the file to write its length bytes into, open for
    // writing, holding exactly start bytes and positioned at start (a sink cuts what a resumed
    // file holds beyond start). -1 ends the connection without acknowledgement. The descriptor
    // stays the sink's; it must stay open until fileDone.
    virtual int openFile(quint32 index, qint64 start, qint64 length) = 0;
    // All of the record's bytes are in the file (still open): the sink closes and places it.
    // Raising ends the connection without acknowledgement.
    virtual void fileDone(quint32 index) = 0;
    // A "cannot send" record, with the sender's reason in the manifest's name encoding.
    virtual void fileSkipped(quint32 index, const QByteArray &reason) = 0;
    // Bytes of bodies received so far on this connection, after each block (often: keep it cheap).
    virtual void progress(qint64 bodyBytes) = 0;
    // The end arrived. Returning sends the acknowledgement; raising does not.
    virtual void finished() = 0;
    // The connection ended, whichever way, after every other call; acknowledged tells whether
    // the acknowledgement went out, reason why not (the refusal, or what broke the stream).
    virtual void ended(bool acknowledged, const QString &reason) = 0;
};

// The receiving side of a set's stream (docs/file-sets.md): a listening server whose
// connections each read one set into the SetSink that SinkFor gives for the connecting address,
// on the connection's own thread, and acknowledge it once the sink has finished. Whatever does
// not follow the framing (a wrong magic or version, a manifest above MaxManifestBytes, a reason
// above MaxReasonBytes, an unknown kind, an index not above the one before, a start or length
// no file can have) and a stream cut short end the connection without acknowledgement; each
// wait ends by StallTimeOut as the other components' do.
//
// Large bodies go from the socket into the sink's file as a single-file post's do (by splice(2)
// when plain, decrypted through a buffer inside TLS); record headers and small bodies are taken
// from the socket in blocks of up to 64 KiB.
//
// Typical use:
//     SetStrmServ in(this);  in.BindAddress = ownIp;
//     in.SinkFor = [&](const QString &ip) { return sets.expectedFrom(ip); };  // or nullptr
//     in.TlsFor = [&](const QString &ip) { return keysFor(ip); };
//     in.Loaded();
// SinkFor and TlsFor are asked on the server's thread when a connection is accepted (keep them
// quick: a look-up); a connection without a sink is closed at once. OnDisconnect comes on the
// server's thread as for TZnStrmServ, after the sink's ended.
class SetStrmServ : public TZnGeneralServer {
    Q_OBJECT
public:
    static constexpr int MaxManifestBytes = SetStreamFormat::MaxManifestBytes;
    static constexpr int MaxReasonBytes = SetStreamFormat::MaxReasonBytes;
    // A body of at least this many bytes still to come goes straight from the socket into the
    // file; a smaller one through the block buffer.
    static constexpr qint64 DirectBody = 64 * 1024;

    explicit SetStrmServ(QObject *owner = nullptr);
    ~SetStrmServ() override;

    std::function<std::shared_ptr<SetSink>(const QString &peerIp)> SinkFor;
    // The keys a connection from peerIp must use inside TLS, or none for a plain connection.
    std::function<std::optional<TlsKeys>(const QString &peerIp)> TlsFor;

    void ServeConnection() override;

protected:
    explicit SetStrmServ(ConnectionOf link);
    TZnGeneralServer *NewConnectionComponent() override;
    void prepareConnection(TZnGeneralServer &connection) override;

private:
    class BlockReader;

    void receiveSet();
    void receiveRecords(BlockReader &in);
    void receiveBody(BlockReader &in, int file, qint64 start, qint64 length);

    // In a connection component: where the set goes, and the keys TLS is required with.
    std::shared_ptr<SetSink> sink_;
    std::optional<TlsKeys> tls_;
    qint64 bodyBytes_ = 0; // of this connection, for progress
};
