#pragma once

#include <QByteArray>
#include <QString>
#include <QTime>
#include <functional>

class ContactStore;
class DispatcherWindows;
class ErrorReporter;
class Prompts;
class TZnUDP;

// The main window's datagram dispatcher: reads each received packet from the endpoint and
// acts on its type (messages, automatic replies, friend requests and accepts, file offers,
// accepts and progress). What a packet does to a window goes through DispatcherWindows.
// Every handler runs guarded: its exceptions reach the error reporter, never the event loop.
// The dispatcher keeps nothing between packets, so it may be re-entered from the nested event
// loop of a box it opened.
class Dispatcher {
public:
    Dispatcher(TZnUDP &lwudp, ContactStore &store, DispatcherWindows &windows, Prompts &prompts,
               ErrorReporter &reporter);

    // Handler of lwudp.OnDataReceived (wire it there). NumberBytes and Port are not used: the
    // packet is fetched with ReadDatagram; FromIP is the sender's dotted address.
    void lwudpDataReceived(TZnUDP *Sender, int NumberBytes, const QString &FromIP, int Port);

    // Handler for presence datagrams (type 8, see docs/presence.md); without one they are
    // ignored like type 0 and 9. It reads the whole datagram from the endpoint itself.
    std::function<void(const TZnUDP &endpoint, const QString &fromIp)> OnPresence;

    // Accept a friend request from ip: add the peer under nickname (ip when it is empty) and
    // answer with a friend accept carrying the own nickname, whether or not the peer was new.
    void yx(const QByteArray &nickname, const QString &ip);

    // One chat-room transcript entry: prefix, name, ":[", time in the long time format, "]",
    // CR LF, text, CR LF and 51 "-".
    static QString chatRoomEntry(const QString &prefix, const QString &name, const QTime &time,
                                 const QString &text);
    // The text of the friend-request confirmation for a request from ip.
    static QString friendRequestQuestion(const QString &ip);

private:
    void dispatch(const QString &fromIp);
    void handleMessage(const QByteArray &payload, const QString &fromIp, bool autoReply);
    void sendAutoReply(const QByteArray &payload, const QString &fromIp);
    void handleFriendRequest(const QByteArray &payload, const QString &fromIp);
    void handleFriendAccept(const QByteArray &payload, const QString &fromIp);
    void handleFileAccept();
    void handleFileOffer(const QByteArray &payload, const QString &fromIp);
    void handleProgress(const QByteArray &payload);
    void addBuddy(const QByteArray &nickname, const QString &ip);
    static qint64 toInteger(const QByteArray &text);

    TZnUDP &lwudp_;
    ContactStore &store_;
    DispatcherWindows &windows_;
    Prompts &prompts_;
    ErrorReporter &reporter_;
};
