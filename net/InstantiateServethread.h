#pragma once

#include <QThread>
#include <atomic>

class TZnGeneralServer;

// The thread that serves one accepted connection: runs ServeConnection of its connection
// component, swallowing what it raises, closes the connection's socket on this thread and
// tells the listening server that the service is over.
class InstantiateServethread : public QThread {
    Q_OBJECT
public:
    explicit InstantiateServethread(TZnGeneralServer &connection);
    ~InstantiateServethread() override;

    TZnGeneralServer &connection() const { return connection_; }
    // True (with acquire ordering) once the body has returned.
    bool done() const { return done_.load(std::memory_order_acquire); }

protected:
    void run() override;

private:
    TZnGeneralServer &connection_;
    std::atomic<bool> done_{false};
};
