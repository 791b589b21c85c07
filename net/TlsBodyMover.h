#pragma once

#include "net/BodyMover.h"

#include <QtGlobal>
#include <atomic>
#include <memory>

class TlsSession;

// Moves a range of a regular file into a TLS session: read into a buffer, then one session write
// of up to Chunk bytes, which goes out as full 16 KiB records (see BodyMover for the thread, the
// waits and the signals to the owner). The session is used by the loop alone while it runs.
class TlsBodyMover final : public BodyMover {
public:
    struct Counters {
        const std::atomic<bool> &cancel;
        std::atomic<qint64> &sent; // the running operation's bytes sent
    };

    // The bytes read and written at a time: a write this large costs little beside the
    // encryption, and a cancel is still seen within a fraction of a millisecond at loopback speed.
    static constexpr qint64 Chunk = 256 * 1024;

    TlsBodyMover(Descriptors descriptors, TlsSession &session, Counters counters, qint64 offset, qint64 size,
                 int stallTimeOutMs);
    ~TlsBodyMover() override; // stop()

    // Whether Failed came from the session (its failure text tells) rather than a call's errno.
    bool sessionFailed() const { return sessionFailed_; }

private:
    Outcome moveAll() override;
    qint64 readChunk(qint64 at, qint64 count);

    TlsSession &session_;
    const Counters counters_;
    const qint64 offset_;
    const qint64 size_;
    std::unique_ptr<char[]> buffer_;
    bool sessionFailed_ = false;
};
