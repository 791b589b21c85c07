#pragma once

#include <QString>
#include <QtGlobal>

// The counter this installation puts in every envelope it seals: strictly increasing, never
// used twice, across restarts and crashes too. Counters are reserved on disk in blocks of
// Block: the file holds the first counter not yet reserved; before a counter of a new block
// is used, the bound past that block is written. A restart goes on from the stored bound, so
// at most one block is skipped and none is used again.
//
// Counter file (text, mode 0600), two lines, each ended by a line feed:
//   talvino-counter 1
//   <the first counter not reserved, in decimal>
// With an empty path the counter lives in memory only. When the file is damaged, counting
// starts from the time in microseconds since 1970, which is above any counter reached before
// unless more than a million envelopes a second were sealed since that earlier start.
class SendCounter {
public:
    static constexpr quint64 Block = 4096;

    explicit SendCounter(QString path);
    // The next counter, reserving a block on disk first when needed. A reservation that could
    // not be written is kept in memory (with a warning): counters still never repeat in this run.
    quint64 next();
    // The last counter used, or the one below the first that may be used.
    quint64 last() const { return next_ - 1; }

private:
    void reserve();

    QString path_;
    quint64 next_ = 1;
    quint64 reserved_ = 1; // the counters below it are reserved
};
