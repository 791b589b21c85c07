#pragma once

#include <QByteArray>
#include <atomic>
#include <deque>
#include <mutex>
#include <netinet/in.h>
#include <thread>

// Keeps the kernel's receive queue of a datagram socket from overflowing while its owner's
// thread is busy (a long edit of a window, a box being built). The owner takes datagrams itself
// (take()), from this intake's queue first and then from the socket, so that they come in the
// order they arrived; a thread of the intake looks at the socket only when the owner has not
// found it empty for GracePeriod ms (a busy owner, or one taking datagrams more slowly than they
// come), and then moves what waits there into its own queue (at most QueueLimit datagrams; past
// that the kernel drops, as it would have) and tells the owner through an eventfd. An owner
// that keeps up empties the socket again and again and is left to read alone, so that the
// intake costs nothing then. With nothing arriving the thread sleeps in poll(2): no wake-ups at
// idle.
class DatagramIntake {
public:
    // How long the socket may stay readable before the thread takes its datagrams: well inside
    // the time a default receive buffer lasts under a burst, long enough that an owner that
    // keeps up takes every datagram itself.
    static constexpr int GracePeriod = 2;
    // Datagrams held at most; each holds at most its buffer size.
    static constexpr int DefaultQueueLimit = 8192;

    struct Datagram {
        QByteArray bytes;
        qint64 length = 0; // the datagram's real length, or -1 for a failed receive
        sockaddr_in from{};
    };

    // socket: non-blocking, bound; bufferSize: the longest datagram kept whole.
    DatagramIntake(int socket, int bufferSize, int queueLimit = DefaultQueueLimit);
    ~DatagramIntake(); // stops the thread; the socket stays open
    DatagramIntake(const DatagramIntake &) = delete;
    DatagramIntake &operator=(const DatagramIntake &) = delete;

    // False when no thread or descriptor could be had: the owner then reads alone.
    bool running() const { return thread_.joinable(); }
    // Readable when the thread has queued datagrams; the owner reads it empty (clearSignal).
    int signalDescriptor() const { return signal_; }
    void clearSignal();

    // The oldest datagram, from the queue or else the socket; false when none waits.
    bool take(Datagram &datagram);
    // One datagram straight from socket; false when it had none.
    static bool receive(int socket, int bufferSize, Datagram &datagram);

private:
    void run();
    void moveWaiting();

    const int socket_;
    const int bufferSize_;
    const int queueLimit_;
    int signal_ = -1;
    int stop_ = -1;
    std::mutex lock_; // one reader of the socket at a time, and the queue
    std::deque<Datagram> queue_;
    std::atomic<qint64> lastEmptied_; // when the owner last found nothing waiting, monotonic µs
    std::thread thread_;
};
