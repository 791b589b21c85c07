#pragma once

#include <atomic>
#include <thread>

class TZnGeneralServer;

// The thread that serves one accepted connection: runs ServeConnection of its connection
// component (which lives on this thread while it is served, with an event loop of its own for
// its waits), swallows what it raises, closes the connection's socket on this thread, hands the
// component back to the listening server's thread and tells the server that the service is over.
class InstantiateServethread {
public:
    explicit InstantiateServethread(TZnGeneralServer &connection);
    ~InstantiateServethread(); // waits for the body to return
    InstantiateServethread(const InstantiateServethread &) = delete;
    InstantiateServethread &operator=(const InstantiateServethread &) = delete;

    bool start(); // false when no thread could be started
    void join();
    // True (with acquire ordering) once the body has returned.
    bool done() const { return done_.load(std::memory_order_acquire); }

private:
    void run();

    TZnGeneralServer &connection_;
    std::thread thread_;
    std::atomic<bool> done_{false};
};
