#include "net/InstantiateServethread.h"

#include "net/TZnGeneralServer.h"

#include <QEventLoop>
#include <QThread>

InstantiateServethread::InstantiateServethread(TZnGeneralServer &connection)
    : connection_(connection)
{
}

InstantiateServethread::~InstantiateServethread()
{
    join();
}

// The component has no thread while it waits for this one: the body takes it over.
void InstantiateServethread::start()
{
    connection_.moveToThread(nullptr);
    thread_ = std::thread([this] { run(); });
}

void InstantiateServethread::join()
{
    if (thread_.joinable())
        thread_.join();
}

void InstantiateServethread::run()
{
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
