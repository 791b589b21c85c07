#pragma once

#include <QThread>
#include <atomic>

class TZnGeneralServer;

// The thread that serves one accepted connection: runs ServeConnection of its connection
// component (which lives on this thread while it is served, with an event loop of its own for
// its waits), swallows what it raises, closes the connection's socket on this thread, hands the
// component back to the listening server's thread and tells the server that the service is over.
class InstantiateServethread : public QThread {
    Q_OBJECT
public:
    explicit InstantiateServethread(TZnGeneralServer &connection);
    ~InstantiateServethread() override; // waits for the body to return

    bool start(); // false when no thread could be started
    void join();
    // True (with acquire ordering) once the body has returned.
    bool done() const { return done_.load(std::memory_order_acquire); }

protected:
    void run() override;

private:
    TZnGeneralServer &connection_;
    std::atomic<bool> done_{false};
};
