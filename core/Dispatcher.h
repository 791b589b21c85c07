#pragma once

#include "core/ArrivalOrder.h"
#include "core/DatagramBacklog.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QTime>
#include <QTimer>
#include <functional>

class ContactStore;
class Deliveries;
class DispatcherWindows;
class ErrorReporter;
class FileWindows;
class PeerSecurity;
class Prompts;
class TZnUDP;

// The main window's datagram dispatcher: reads each received packet from the endpoint and
// acts on its type (messages, automatic replies, friend requests and accepts, file offers,
// accepts and progress). What a packet does to the main window goes through DispatcherWindows;
// the file packets go straight to the FileWindows.
// Every handler runs guarded: its exceptions reach the error reporter, never the event loop.
// The dispatcher keeps nothing between packets, so it may be re-entered from the nested event
// loop of a box it opened. That nesting has a bound: a datagram that arrives while
// MaxNesting dispatches stand open (each holding a box or another wait) is read off the socket
// and waits in a backlog of at most MaxBacklog datagrams, and is dispatched, in order, once
// a box has closed; past the backlog's bound it is dropped. So a flood of packets that each
// raise a box cannot grow the stack without end.
class Dispatcher {
public:
    // Nested dispatches at which a datagram is still dispatched at once: room for every box
    // that a person could answer in turn, and a small bounded stack.
    static constexpr int MaxNesting = 8;
    // Datagrams that wait for a box to close: a burst of about a second at the rate a LAN
    // host floods, in at most 256 * 255 bytes.
    static constexpr int MaxBacklog = 256;

    Dispatcher(TZnUDP &lwudp, ContactStore &store, DispatcherWindows &windows, Prompts &prompts,
               ErrorReporter &reporter);

    // The file windows that file accepts, offers and progress reports go to; none until set,
    // and then those packets are checked as usual and dropped.
    void setFileWindows(FileWindows *files) { files_ = files; }
    // Opens sealed datagrams ("9") and tells which plain ones may be forged; none until set,
    // and then "9" means nothing, as to a peer of the base protocol.
    void setSecurity(PeerSecurity *security) { security_ = security; }
    // Sealed messages: each copy answered with a receipt, each shown once and in its sender's
    // order (arrivals), receipts handed to deliveries, which also sends the automatic replies.
    // Without them a sealed message is dropped, and automatic replies go as base datagrams.
    void setSealedMessages(ArrivalOrder *arrivals, Deliveries *deliveries);

    // Handler of lwudp.OnDataReceived (wire it there). NumberBytes and Port are not used: the
    // packet is fetched with ReadDatagram; FromIP is the sender's dotted address.
    void lwudpDataReceived(TZnUDP *Sender, int NumberBytes, const QString &FromIP, int Port);

    int maxNesting() const { return maxNesting_; }
    void setMaxNesting(int depth) { maxNesting_ = depth; }
    int maxBacklog() const { return backlog_.capacity(); }
    void setMaxBacklog(int datagrams) { backlog_.setCapacity(datagrams); }
    // Dispatches standing open now, datagrams waiting, and datagrams dropped so far.
    int nesting() const { return depth_; }
    qsizetype backlog() const { return backlog_.size(); }
    quint64 dropped() const { return backlog_.dropped(); }

    // Handler for presence datagrams (type 8, see docs/presence.md); without one they are
    // ignored like type 0 and 9. It is given the whole datagram, type byte included.
    std::function<void(const QByteArray &datagram, const QString &fromIp)> OnPresence;

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
    using Datagram = DatagramBacklog::Datagram;
    Datagram readDatagram(const QString &fromIp) const;
    void dispatchGuarded(const Datagram &datagram);
    void dispatchBacklog();
    // How a base datagram came: in the clear, or sealed (by the pinned key or a changed one).
    enum class Origin { Plain, Sealed, SealedKeyChanged };
    void dispatch(const Datagram &datagram);
    void dispatchSealed(const Datagram &datagram);
    void dispatchSealedMessage(const QByteArray &inner, const QByteArray &senderKey, const QString &fromIp,
                               bool keyChanged);
    void showArrivals(const QList<ArrivalOrder::Arrival> &shown);
    void releaseHeld();
    void scheduleRelease();
    void dispatchBase(char type, const QByteArray &payload, const QString &fromIp, Origin origin);
    // Text as shown: marked when it came in the clear from a peer whose key is pinned (it may
    // be forged), or sealed by a key other than the pinned one.
    QString shownText(const QString &text, const QString &fromIp, Origin origin) const;
    void handleMessage(const QByteArray &payload, const QString &fromIp, bool autoReply, Origin origin);
    void sendAutoReply(const QByteArray &payload, const QString &fromIp);
    void handleFriendRequest(const QByteArray &payload, const QString &fromIp);
    void handleFriendAccept(const QByteArray &payload, const QString &fromIp);
    void handleFileAccept(const QString &fromIp);
    void handleFileOffer(const QByteArray &payload, const QString &fromIp, Origin origin);
    void handleProgress(const QByteArray &payload, const QString &fromIp);
    void addBuddy(const QByteArray &nickname, const QString &ip);
    static qint64 toInteger(const QByteArray &text);

    TZnUDP &lwudp_;
    ContactStore &store_;
    DispatcherWindows &windows_;
    FileWindows *files_ = nullptr;
    PeerSecurity *security_ = nullptr;
    ArrivalOrder *arrivals_ = nullptr;
    Deliveries *deliveries_ = nullptr;
    QElapsedTimer clock_;
    QTimer release_; // single shot, when the first held message is due
    Prompts &prompts_;
    ErrorReporter &reporter_;
    int maxNesting_ = MaxNesting;
    int depth_ = 0;
    DatagramBacklog backlog_{MaxBacklog};
};
