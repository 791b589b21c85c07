#pragma once

#include "secure/LruCache.h"
#include "secure/ReplayWindow.h"

#include <QByteArray>
#include <QString>

// One replay window per sender key, for the MaxSenders senders heard from most recently (a
// sender dropped from the table starts afresh when heard again). The highest counter of each
// is kept in a file, written on request, and restored at start: after a restart every counter
// up to it is refused.
//
// Replay file (text, mode 0600): a first line "talvino-replay 1", then one line per sender,
// most recently heard first: its public key as 64 lowercase hexadecimal digits, a space, its
// highest counter in decimal. Lines that do not read so are skipped. With an empty path the
// table lives in memory only.
class ReplayTable {
public:
    static constexpr int MaxSenders = 1024;

    explicit ReplayTable(QString path);
    // Whether counter from senderKey would be accepted; records nothing.
    bool accepts(const QByteArray &senderKey, quint64 counter);
    // Records counter as accepted from senderKey.
    void record(const QByteArray &senderKey, quint64 counter);
    // Writes every sender's highest counter to the file; false with *error when it could not.
    bool save(QString *error) const;

private:
    void load();

    QString path_;
    LruCache<ReplayWindow> windows_{MaxSenders};
};
