#include "net/InstantiateServethread.h"

#include "net/TZnGeneralServer.h"

#include <QEventLoop>
#include <QThread>

#include <pthread.h>
#include <system_error>

InstantiateServethread::InstantiateServethread(TZnGeneralServer &connection) : connection_(connection) {}

InstantiateServethread::~InstantiateServethread() { join(); }

// The component has no thread while it waits for this one: the body takes it over. When no
// thread can be had, the component comes back to the calling thread.
bool InstantiateServethread::start()
{
    // std::thread, not QThread: QThread::wait joins through a futex the thread sanitizer cannot see, and it
    // reported freeing the finished thread as a race; std::thread::join it sees.
    connection_.moveToThread(nullptr);
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error &) {
        connection_.moveToThread(QThread::currentThread());
        return false;
    }
    return true;
}

void InstantiateServethread::join()
{
    if (thread_.joinable())
        thread_.join();
}

void InstantiateServethread::run()
{
    pthread_setname_np(pthread_self(), "connection"); // for the system's per-thread figures
    {
        const QEventLoop dispatcher; // makes this thread's event dispatcher for the waits
        connection_.moveToThread(QThread::currentThread());
        try {
            connection_.ServeConnection();
        } catch (...) {
            // A failed service only ends its own connection.
        }
        connection_.serviceEnded();
    }
    done_.store(true, std::memory_order_release);
    connection_.notifyServer();
}
