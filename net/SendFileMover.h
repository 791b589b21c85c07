#pragma once

#include "net/BodyMover.h"

#include <QtGlobal>
#include <atomic>

// Moves a range of a regular file into a connected non-blocking socket by sendfile(2), so that
// the bytes never pass through the program (see BodyMover for the thread, the waits and the
// signals to the owner).
class SendFileMover final : public BodyMover {
public:
    struct Counters {
        const std::atomic<bool> &cancel;
        std::atomic<qint64> &sent;       // the running operation's bytes sent
        std::atomic<qint64> &zeroCopied; // the same bytes, as they went without a copy
    };

    // A piece of at most this many bytes per sendfile call: large enough that the calls cost
    // nothing, small enough that a cancel is seen soon.
    static constexpr qint64 Chunk = 1 << 20;

    SendFileMover(Descriptors descriptors, Counters counters, qint64 offset, qint64 size, int stallTimeOutMs);
    ~SendFileMover() override; // stop()

    // Whether the system could not send from this file at all: nothing went, and the caller
    // may take another path.
    bool cannotServe() const;

private:
    Outcome moveAll() override;

    const Counters counters_;
    const qint64 offset_;
    const qint64 size_;
};
