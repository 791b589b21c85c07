#pragma once

#include <QtGlobal>
#include <atomic>
#include <thread>

// The common part of the loops that move a body into a connected non-blocking socket with waits
// that block in poll(2) on the socket and a wake-up descriptor, never an event loop pass per
// block: start() runs the loop on a thread of its own (named "file sender"), run() on the calling
// thread (for a thread that has no other work). The owner is told through an eventfd when the
// first bytes have gone out and when the loop has ended, so that it can show progress without
// being asked per block; the loop adds the bytes it moved to a counter the owner reads whenever
// it likes.
//
// The loop ends when all bytes went, the owner's cancel flag is set (checked after every block
// and every wake-up; whoever sets it writes the wake-up descriptor), stop() is called, the
// socket stays unready for the stall time, or a call fails. It never closes a descriptor: the
// owner stops it before closing the socket. A derived class moves the bytes (moveAll) and calls
// stop() in its destructor, so that its loop has ended before its members go.
class BodyMover {
public:
    enum class Outcome {
        Running,
        Done,      // every byte went
        Cancelled, // the cancel flag was set
        Halted,    // the owner stopped it (to close the socket)
        FileEnded, // the file is shorter than it was
        Stalled,   // the socket stayed unready for the stall time
        Failed,    // a call failed: error() tells, or the derived class
    };

    struct Descriptors {
        int socket;
        int file;
        int wake; // readable when the owner's cancel flag may have been set
    };

    BodyMover(Descriptors descriptors, const std::atomic<bool> &cancel, int stallTimeOutMs);
    virtual ~BodyMover();
    BodyMover(const BodyMover &) = delete;
    BodyMover &operator=(const BodyMover &) = delete;

    // Readable once the first bytes went out and once the loop ended; the owner reads it empty.
    int signalDescriptor() const { return signal_; }
    bool valid() const { return signal_ >= 0; }

    void start(); // runs the loop on a thread of its own
    void run();   // runs the loop here, returning when it ends
    void stop();  // makes the loop end (unless it has) and waits for its thread
    bool finished() const { return outcome_.load() != Outcome::Running; }
    Outcome outcome() const { return outcome_.load(); }
    int error() const { return error_; } // the errno of Failed, 0 when the failure was not a call's

protected:
    // Moves the whole body; runs once, on the loop's thread.
    virtual Outcome moveAll() = 0;
    // Blocks until the socket has one of events (POLLIN, POLLOUT), the loop is to end, or the
    // stall time passes. False when the loop is to end: ended() then tells the outcome.
    bool waitFor(short events);
    // After the first bytes went: tells the owner once.
    void firstBytesWent();
    bool ending() const { return cancel_ || halt_; }
    Outcome endedOutcome() const; // Cancelled or Halted when ending(), else Failed or Stalled
    void failWith(int error) { error_ = error; }

    const Descriptors fds_;

private:
    void loop();
    void signal();

    const std::atomic<bool> &cancel_;
    const int stallTimeOutMs_;
    int signal_ = -1;
    std::thread thread_;
    std::atomic<bool> halt_{false};
    std::atomic<Outcome> outcome_{Outcome::Running};
    bool signalledFirst_ = false;
    int error_ = 0;
};
