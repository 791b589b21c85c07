#pragma once

#include "net/RIzarorozi.h"

#include <memory>
#include <mutex>
#include <vector>

class InstantiateServethread;

// A listening server: once Loaded() it listens on BindAddress:Port, accepts every incoming
// connection on its own thread and gives each one to a connection component (a new instance of
// the server's own class, made by NewConnectionComponent) that ServeConnection serves on a
// thread of its own. The connection component's socket belongs to that thread alone: it is read,
// written and closed there. When the service ends, the server (on its own thread) raises its
// OnDisconnect with the connection component as Sender, removes it from the connection list
// and frees it.
//
// Connection components take the server's StallTimeOut, so a connection whose peer stops
// sending or reading ends once that time has passed without a byte moving. Their thread has no
// other work: it waits for the socket in poll(2), woken by the socket, a cancel or the stall
// time-out, without an event loop round.
//
// Events: OnClientContact (Sender: the listening server) after each accept attempt;
// OnDisconnect (Sender: the connection component) when a served connection has been closed.
// Destroying the server cancels every connection and waits until their threads have ended.
class TZnGeneralServer : public RIzarorozi {
    Q_OBJECT
public:
    explicit TZnGeneralServer(QObject *owner = nullptr);
    ~TZnGeneralServer() override;

    Event OnClientContact;

    // The properties have been set: install the accept handler and start listening.
    // Failures of bind and listen are not reported (see Listening()).
    void Loaded();
    // A server never connects out.
    void Connect() override;
    // Cancels every connection being served; the listening socket itself is not touched.
    void Abort() override;
    // Cancels every connection being served and closes the listening socket at once, so that
    // no further connection is taken (Loaded listens again).
    void StopListening();
    // The work of one connection, on the connection's own thread. Does nothing here.
    virtual void ServeConnection();

    int ConnectionCount() const;
    // In a connection component: the listening server that accepted its connection.
    TZnGeneralServer *Server() const { return server_; }

protected:
    struct ConnectionOf {
        TZnGeneralServer *server;
    };
    // Makes a connection component of the listening server.
    explicit TZnGeneralServer(ConnectionOf link);
    // A new connection component of this class; descendants make their own class and copy
    // what their connections need.
    virtual TZnGeneralServer *NewConnectionComponent();
    // The connection component made for an accepted connection, which it has taken (its
    // RemoteAddress is the peer's), before its thread starts. Does nothing here; what it
    // raises abandons the connection.
    virtual void prepareConnection(TZnGeneralServer &connection);

private:
    friend class InstantiateServethread;
    struct Connection;

    void acceptHandler();
    InstantiateServethread *startConnection(int socket); // made, not yet started
    void dropConnection(InstantiateServethread *thread);
    void onConnectionEnded();
    void endConnection(std::unique_ptr<Connection> connection);
    void serviceEnded(); // on the connection thread, when its service is over
    void notifyServer(); // on the connection thread, as its last step

    // Guards accepting a connection and tearing one down (taken before listLock_). Each
    // listening server has its own: connections of different servers share nothing.
    std::mutex serverLock_;
    mutable std::mutex listLock_;
    std::vector<std::unique_ptr<Connection>> connections_;
    TZnGeneralServer *server_ = nullptr;
    int endedFd_ = -1; // written by connection threads whose service is over
    class QSocketNotifier *endedNotifier_ = nullptr;
};
