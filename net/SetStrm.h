#pragma once

#include "net/RIzarorozi.h"

#include <QList>
#include <atomic>
#include <optional>

class QFile;

// The sending side of a set's stream (docs/file-sets.md): one call connects to Host:Port,
// sends the header (the set id and the manifest, opaque bytes here), one record per file in the
// order given and the end, reads the 16-byte acknowledgement and disconnects. All of a set's
// files go in this one connection.
//
// Typical use (the files the receiver asked for):
//     SetStrm out(this);  out.Host = peerIp;  out.Tls = keysFor(peer);
//     out.OnPacketSent = [&](RIzarorozi *s) { progress = s->BytesSent(); };
//     QByteArray reply;  out.PostSet(setId, manifest, records, reply);  // "OK" + 14 spaces
// PostSet pumps the calling thread's event loop while it waits, as TZnStrm::PostStream does.
//
// A large file's body goes as a single-file post's does: by sendfile(2) when plain, read and
// encrypted on a thread of its own inside TLS. Small files (up to SmallBody bytes) are read into
// a staging buffer with their record headers and sent StagingBytes at a time, so that a set of
// many small files costs few system calls and few TLS records.
//
// Progress: BytesSent() counts the bytes of the files' bodies sent so far (headers and manifest
// not), against BytesTotal(), the sum of the records' lengths. OnPacketSent comes at most every
// ProgressInterval ms while bodies go.
class SetStrm : public RIzarorozi {
    Q_OBJECT
public:
    // One record of the stream: a file from an offset, or a notice that it cannot be sent.
    struct Record {
        quint32 index = 0;       // the file's entry in the manifest
        QString path;            // the local file to read
        qint64 start = 0;        // where in the file to begin (the receiver holds the bytes before)
        qint64 expectedSize = 0; // the file's size in the manifest; the record carries the bytes from start
        // Not empty: a "cannot send" record with this reason (at most SetStreamFormat::MaxReasonBytes, in the
        // manifest's name encoding) goes instead of the file.
        QByteArray skipReason;
    };

    static constexpr qint64 StagingBytes = 256 * 1024;
    static constexpr qint64 SmallBody = 64 * 1024;
    // The largest body handed to SendStream at once (it takes less than 2 GiB); a larger file
    // goes in several such pieces, back to back.
    static constexpr qint64 LargestSend = 1 << 30;

    explicit SetStrm(QObject *owner = nullptr);
    ~SetStrm() override;

    // Set: the stream runs inside TLS with these keys, as its client. Unset: plain.
    std::optional<TlsKeys> Tls;
    Event OnRecordStarted; // a record is being sent: CurrentIndex() tells its entry
    // The reasons of the "cannot send" records this component makes itself, in the manifest's
    // name encoding: UTF-8 by default, to be set for a set whose names are in GB18030.
    QByteArray UnreadableReason = QByteArrayLiteral("无法读取文件");
    QByteArray ChangedReason = QByteArrayLiteral("文件已改变");

    // Sends the set and gives back the acknowledgement in Reply, empty when the receiver closed
    // without. A file that cannot be opened, or whose size is not its expectedSize, goes as a
    // "cannot send" record ("无法读取文件", "文件已改变") and the set goes on. Records must come
    // in ascending index order. Raises the socket base's exceptions (invalid arguments before
    // connecting); once connected, the connection is closed in every case.
    void PostSet(const QByteArray &setId, const QByteArray &manifest, const QList<Record> &records,
                 QByteArray &Reply);

    // The entry of the record being sent; may be read from any thread.
    quint32 CurrentIndex() const { return currentIndex_.load(std::memory_order_relaxed); }

    // When connected: Cancel, then Disconnect. Otherwise nothing.
    void Abort() override;

private:
    void sendRecord(const Record &record);
    void skipFile(const Record &record, const QByteArray &reason);
    void stageSkip(quint32 index, const QByteArray &reason);
    bool stageSmallBody(int file, const Record &record);
    void sendLargeBody(QFile &file, const Record &record);
    void makeRoom(qint64 bytes);
    void flush();
    void reportProgress(bool force);

    std::atomic<quint32> currentIndex_{0};
    QByteArray staging_;    // record headers and small bodies not yet sent
    qint64 stagedBody_ = 0; // bytes of bodies in staging_
    QElapsedTimer lastProgress_;
    qint64 reportedSent_ = 0; // BytesSent at the last OnPacketSent of staged bodies
};
