#include "net/TZnGeneralServer.h"

#include "net/InstantiateServethread.h"
#include "net/Swallow.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <sys/eventfd.h>
#include <unistd.h>

struct TZnGeneralServer::Connection {
    std::unique_ptr<TZnGeneralServer> component;
    std::unique_ptr<InstantiateServethread> thread;
    ~Connection()
    {
        // The thread goes first: it may still be finishing when the component is released.
        thread.reset();
        component.reset();
    }
};

TZnGeneralServer::TZnGeneralServer(QObject *owner) : RIzarorozi(owner) { Port = 6711; }

TZnGeneralServer::TZnGeneralServer(ConnectionOf link) : RIzarorozi(nullptr), server_(link.server)
{
    Port = 6711;
    setSingleUse();
    setWaitsDirectly();
}

TZnGeneralServer::~TZnGeneralServer()
{
    beginDestruction();
    std::vector<std::unique_ptr<Connection>> remaining;
    {
        std::lock_guard server(serverLock_);
        std::lock_guard list(listLock_);
        remaining.swap(connections_);
    }
    remaining.clear(); // waits for each thread, then frees its component
    if (endedFd_ >= 0)
        ::close(endedFd_);
}

void TZnGeneralServer::Loaded()
{
    if (server_)
        return;
    if (endedFd_ < 0) {
        // An eventfd, not a queued QMetaObject::invokeMethod: a Qt event posted across threads (queued call,
        // QFutureWatcher) is freed after a hand-over in Qt's futex locks that the thread sanitizer cannot
        // see: it reported a race in sendPostedEvents.
        endedFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (endedFd_ < 0)
            checkError(errno); // no descriptor to spare: the server does not listen
        endedNotifier_ = new QSocketNotifier(endedFd_, QSocketNotifier::Read, this);
        connect(endedNotifier_, &QSocketNotifier::activated, this, &TZnGeneralServer::onConnectionEnded);
    }
    OnAccept = [this](RIzarorozi *) { acceptHandler(); };
    Listen(false);
}

void TZnGeneralServer::Connect() {}

void TZnGeneralServer::Abort()
{
    std::lock_guard list(listLock_);
    for (const auto &connection : connections_)
        connection->component->Cancel();
}

void TZnGeneralServer::StopListening()
{
    Abort();
    closeListener();
}

void TZnGeneralServer::ServeConnection() {}

void TZnGeneralServer::prepareConnection(TZnGeneralServer &) {}

int TZnGeneralServer::ConnectionCount() const
{
    std::lock_guard list(listLock_);
    return int(connections_.size());
}

TZnGeneralServer *TZnGeneralServer::NewConnectionComponent()
{
    return new TZnGeneralServer(ConnectionOf{this});
}

// Runs on the server's thread when the listening socket has a connection pending.
// OnClientContact comes before the connection's thread starts, so it always precedes the
// connection's own events.
void TZnGeneralServer::acceptHandler()
{
    InstantiateServethread *thread = nullptr;
    {
        std::lock_guard server(serverLock_);
        try {
            setEventArrived();
            thread = startConnection(Accept());
        } catch (...) {
            // The connection is abandoned.
        }
    }
    if (OnClientContact)
        swallow([this] { OnClientContact(this); });
    if (thread && !thread->start())
        dropConnection(thread);
}

// A connection whose thread could not be started is closed and freed at once.
void TZnGeneralServer::dropConnection(InstantiateServethread *thread)
{
    std::unique_ptr<Connection> dropped;
    {
        std::lock_guard server(serverLock_);
        std::lock_guard list(listLock_);
        const auto it = std::find_if(connections_.begin(), connections_.end(),
                                     [thread](const auto &c) { return c->thread.get() == thread; });
        if (it == connections_.end())
            return;
        dropped = std::move(*it);
        connections_.erase(it);
    }
}

InstantiateServethread *TZnGeneralServer::startConnection(int socket)
{
    auto connection = std::make_unique<Connection>();
    try {
        connection->component.reset(NewConnectionComponent());
    } catch (...) {
        ::close(socket);
        throw;
    }
    TZnGeneralServer &component = *connection->component;
    component.StallTimeOut = StallTimeOut;
    component.adoptConnectedSocket(socket, remoteAddress());
    prepareConnection(component);
    connection->thread = std::make_unique<InstantiateServethread>(component);
    InstantiateServethread &thread = *connection->thread;
    {
        std::lock_guard list(listLock_);
        connections_.push_back(std::move(connection));
    }
    return &thread;
}

// On the connection's thread, after ServeConnection: the socket is closed here, by the thread
// that read it, and the component goes back to the server's thread to be released there.
void TZnGeneralServer::serviceEnded()
{
    if (Socket() >= 0)
        swallow([this] { RequestCloseSocket(); });
    moveToThread(server_->thread());
}

void TZnGeneralServer::notifyServer()
{
    const quint64 one = 1;
    if (::write(server_->endedFd_, &one, sizeof one) < 0) {
        // Only a full counter fails, and then a wake-up is pending anyway.
    }
}

void TZnGeneralServer::onConnectionEnded()
{
    quint64 count = 0;
    while (::read(endedFd_, &count, sizeof count) > 0) {}
    for (;;) {
        std::unique_ptr<Connection> ended;
        {
            std::lock_guard server(serverLock_);
            std::lock_guard list(listLock_);
            const auto it = std::find_if(connections_.begin(), connections_.end(),
                                         [](const auto &c) { return c->thread->done(); });
            if (it == connections_.end())
                return;
            ended = std::move(*it);
            connections_.erase(it);
        }
        endConnection(std::move(ended));
    }
}

void TZnGeneralServer::endConnection(std::unique_ptr<Connection> connection)
{
    connection->thread->join();
    if (OnDisconnect)
        swallow([&] { OnDisconnect(connection->component.get()); });
    std::lock_guard server(serverLock_);
    connection.reset();
}
