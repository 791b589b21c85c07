#pragma once

#include <QByteArray>
#include <QString>
#include <deque>

// Datagrams that were taken off the socket but not yet dispatched, oldest first, up to a
// capacity. Past it a datagram is dropped and counted, as the kernel drops datagrams when a
// socket's buffer is full.
class DatagramBacklog {
public:
    struct Datagram {
        QByteArray bytes; // as read into the receive buffer; empty after a failed receive
        QString fromIp;
    };

    explicit DatagramBacklog(int capacity) : capacity_(capacity) {}

    int capacity() const { return capacity_; }
    // A smaller capacity keeps what already waits; it only refuses newcomers.
    void setCapacity(int capacity) { capacity_ = capacity; }

    bool isEmpty() const { return waiting_.empty(); }
    qsizetype size() const { return qsizetype(waiting_.size()); }
    quint64 dropped() const { return dropped_; }

    // Appends the datagram; false (and counted as dropped) when the backlog is full.
    bool push(Datagram datagram)
    {
        if (size() >= capacity_) {
            ++dropped_;
            return false;
        }
        waiting_.push_back(std::move(datagram));
        return true;
    }
    // The oldest datagram, removed; only when not empty.
    Datagram take()
    {
        Datagram oldest = std::move(waiting_.front());
        waiting_.pop_front();
        return oldest;
    }

private:
    int capacity_;
    std::deque<Datagram> waiting_;
    quint64 dropped_ = 0;
};
