#pragma once

#include "fileset/SetDatagrams.h"
#include "fileset/SetPlacement.h"
#include "fileset/SetStores.h"
#include "net/SetStrmServ.h"

#include <QFile>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QSet>
#include <atomic>
#include <memory>
#include <optional>

// What one accepted set does with one connection of its stream, on the connection's thread:
// checks the manifest against the offer before anything is written, makes the folders, writes
// each file through the placement (a temporary name, renamed when whole, never over an existing
// file), and notes finished files in the journal before they are renamed. Small whole files
// wait under their temporary names in batches (up to PlaceBatch files or PlaceBatchBytes),
// noted with one write and then renamed; a batch is placed before a large file begins, before
// the stream is acknowledged and when it ends. A file whole but not yet noted when the program
// stops is asked for again, like one cut short: at most one batch. The window reads its
// figures from the GUI thread.
class SetReceiver : public SetSink {
public:
    static constexpr int PlaceBatch = 64;
    static constexpr qint64 PlaceBatchBytes = 1 << 20;

    struct Figures {
        int filesDone = 0;
        qint64 bytesDone = 0;
        bool ended = false;
        bool acknowledged = false;
        QString refusal;                         // the manifest was refused: why
        QList<QPair<QString, QString>> failures; // path and reason of files the sender could not send
        QString error;                           // why the stream ended on our side, if it did
    };

    // finished: the entries already in place (from the journal).
    SetReceiver(SetStore store, IncomingSet set, SetOffer offer, QSet<quint32> finished);
    ~SetReceiver() override;

    bool acceptHeader(const QByteArray &setId, const QByteArray &manifest, QString *refusal) override;
    int openFile(quint32 index, qint64 start, qint64 length) override;
    void fileDone(quint32 index) override;
    void fileSkipped(quint32 index, const QByteArray &reason) override;
    void progress(qint64 bodyBytes) override;
    void finished() override;
    void ended(bool acknowledged, const QString &reason) override;

    // The entries of set in place. Each finished file is noted in the journal before it is
    // renamed into place, so a file noted but still under its temporary name (the program ended
    // between the two) is put in place here; one whose temporary file is short counts as not
    // finished, and goes on from what it holds.
    static QSet<quint32> placedEntries(const SetStore &store, const IncomingSet &set);

    Figures figures() const;
    // The set's state as it stands (with the manifest and top names once the stream brought them).
    IncomingSet set() const;

private:
    void fail(const QString &error);
    // Notes the whole files waiting to be placed, then renames them into place; false (and the
    // error noted) when one cannot be.
    bool placeWaiting();

    SetStore store_;
    IncomingSet set_;
    const SetOffer offer_;
    QSet<quint32> finished_;
    std::optional<Manifest> manifest_;
    std::unique_ptr<SetPlacement> placement_;
    Descriptor part_;
    QList<quint32> waiting_; // whole files still under their temporary names, not yet noted
    qint64 waitingBytes_ = 0;
    QFile journal_;
    quint32 partIndex_ = 0;
    qint64 finishedBytes_ = 0;   // bytes of the files in place
    qint64 partBase_ = 0;        // bytes done when the running part's body began
    qint64 lastBody_ = 0;        // the connection's body bytes so far
    qint64 bodyAtPartStart_ = 0; // the connection's body bytes when the running part began
    std::atomic<int> filesDone_{0};
    std::atomic<qint64> bytesDone_{0};
    mutable QMutex mutex_; // guards the rest of the figures and set_
    Figures words_;
};
