#include "net/InstantiateServethread.h"

#include "net/TZnGeneralServer.h"

InstantiateServethread::InstantiateServethread(TZnGeneralServer &connection)
    : connection_(connection)
{
}

InstantiateServethread::~InstantiateServethread()
{
    join();
}

// The component goes over to this thread before the thread starts. When no thread can be had,
// the component stays with a thread that never runs, and the caller frees it at once.
bool InstantiateServethread::start()
{
    connection_.moveToThread(this);
    QThread::start();
    return isRunning() || isFinished();
}

void InstantiateServethread::join()
{
    wait();
}

void InstantiateServethread::run()
{
    try {
        connection_.ServeConnection();
    } catch (...) {
        // A failed service only ends its own connection.
    }
    connection_.serviceEnded();
    done_.store(true, std::memory_order_release);
    connection_.notifyServer();
}
