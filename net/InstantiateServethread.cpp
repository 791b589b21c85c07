#include "net/InstantiateServethread.h"

#include "net/TZnGeneralServer.h"

InstantiateServethread::InstantiateServethread(TZnGeneralServer &connection)
    : connection_(connection)
{
}

InstantiateServethread::~InstantiateServethread()
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
}
