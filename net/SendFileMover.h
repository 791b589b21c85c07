#pragma once

#include <QtGlobal>
#include <atomic>
#include <thread>

// Moves a range of a regular file into a connected non-blocking socket by sendfile(2), with
// waits that block in poll(2) on the socket and a wake-up descriptor: never an event loop pass
// per block. start() runs the loop on a thread of its own, run() on the calling thread (for a
// thread that has no other work). Bytes moved are added to a counter the owner reads whenever
// it likes; the owner is told through an eventfd when the first bytes have gone out and when
// the loop has ended, so that it can show progress without being asked per block.
//
// The loop ends when all bytes went, the owner's cancel flag is set (checked after every block
// and every wake-up; whoever sets it writes the wake-up descriptor), stop() is called, the
// socket stays full for the stall time, or a call fails. It never closes a descriptor: the
// owner stops it before closing the socket.
class SendFileMover {
public:
    enum class Outcome {
        Running,
        Done,         // every byte went
        Cancelled,    // the cancel flag was set
        Halted,       // the owner stopped it (to close the socket)
        FileEnded,    // the file is shorter than it was
        Stalled,      // the socket stayed full for the stall time
        Failed,       // sendfile or poll failed: error() tells
    };

    struct Descriptors {
        int socket;
        int file;
        int wake; // readable when the owner's cancel flag may have been set
    };
    struct Counters {
        const std::atomic<bool> &cancel;
        std::atomic<qint64> &sent;       // the running operation's bytes sent
        std::atomic<qint64> &zeroCopied; // the same bytes, as they went without a copy
    };

    // A piece of at most this many bytes per sendfile call: large enough that the calls cost
    // nothing, small enough that a cancel is seen soon.
    static constexpr qint64 Chunk = 1 << 20;

    SendFileMover(Descriptors descriptors, Counters counters, qint64 offset, qint64 size, int stallTimeOutMs);
    ~SendFileMover(); // stop()
    SendFileMover(const SendFileMover &) = delete;
    SendFileMover &operator=(const SendFileMover &) = delete;

    // Readable once the first bytes went out and once the loop ended; the owner reads it empty.
    int signalDescriptor() const { return signal_; }
    bool valid() const { return signal_ >= 0; }

    void start();        // runs the loop on a thread of its own
    void run();          // runs the loop here, returning when it ends
    void stop();         // makes the loop end (unless it has) and waits for its thread
    bool finished() const { return outcome_.load() != Outcome::Running; }
    Outcome outcome() const { return outcome_.load(); }
    int error() const { return error_; } // the errno of Failed
    // Whether the system could not send from this file at all: nothing went, and the caller
    // may take another path.
    bool cannotServe() const;

private:
    void loop();
    Outcome moveAll();
    bool waitWritable();
    bool ending() const { return counters_.cancel || halt_; }
    void signal();

    const Descriptors fds_;
    const Counters counters_;
    const qint64 offset_;
    const qint64 size_;
    const int stallTimeOutMs_;
    int signal_ = -1;
    std::thread thread_;
    std::atomic<bool> halt_{false};
    std::atomic<Outcome> outcome_{Outcome::Running};
    int error_ = 0;
};
