#pragma once

#include "core/Outbox.h"
#include "core/SealedMessage.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

struct NearbyPeer;
class PeerSecurity;
class PresenceService;
class SendCounter;
class TZnUDP;

// Messages and automatic replies on their way, and what became of them. To a peer whose link is
// sealed, each goes in an envelope with an id and its place among our messages to that peer,
// and again after each of the retry delays (0.5, 1, 2 and 4 s) until its receipt comes; after
// the last it is "not delivered" and waits in the outbox. To a buddy whose key is pinned but
// whom presence does not show, it waits in the outbox at once. Whatever waits goes out, oldest
// first, when presence hears that peer, or a receipt from it shows it is there. To any other peer it goes as a base datagram, as
// always, and nothing can confirm it.
//
// The sent messages of each address (the last KeptPerAddress) and their states belong to the
// conversation: they outlive the message window that sent them.
class Deliveries : public QObject {
    Q_OBJECT

public:
    enum class State {
        Sending,      // sealed, retried until its receipt comes
        Delivered,    // its receipt came
        NotDelivered, // no receipt after the last retry: waits in the outbox
        Waiting,      // the peer is not there: waits in the outbox
        NoReceipt,    // a base peer: sent as always, nothing can confirm it
        NotQueued,    // the peer is not there and its outbox is full: not sent, not kept
    };
    struct Sent {
        QByteArray id; // empty for a message to a base peer
        QByteArray datagram;
        QDateTime at;
        State state = State::Sending;
    };
    static constexpr int KeptPerAddress = 200;
    static inline const QList<int> DefaultRetryDelaysMs{500, 1000, 2000, 4000};
    static inline const QString CounterFileName = QStringLiteral("messages.counter");
    static inline const QString SequenceFileName = QStringLiteral("messages.sequence");
    static inline const QString OutboxFileName = QStringLiteral("outbox");

    // Files in configDir (an empty configDir keeps everything in memory).
    Deliveries(const QString &configDir, PeerSecurity &security, PresenceService &presence, TZnUDP &endpoint,
               QObject *parent = nullptr);
    ~Deliveries() override;
    // Writes now what waits on its timer (the sequences sent); for an end that runs no destructors.
    void saveSequences();

    // Sends a message ("1") or automatic reply ("6") datagram to ip and returns the state it
    // starts in. Automatic replies are not listed in the conversation.
    State send(const QString &ip, const QByteArray &datagram);
    // Sends a message that was not delivered again now (the person asked).
    bool resend(const QString &ip, const QByteArray &id);
    // Takes a waiting message out of the outbox; false when it is not waiting.
    bool cancel(const QString &ip, const QByteArray &id);
    // A receipt opened from the peer with senderKey.
    void receiptArrived(const QByteArray &senderKey, const QByteArray &id);

    QList<Sent> conversation(const QString &ip) const { return conversations_.value(ip); }
    Outbox &outbox() { return *outbox_; }
    int inFlight() const { return int(inFlight_.size()); }
    void setRetryDelaysMs(const QList<int> &delays) { retryDelaysMs_ = delays; }

signals:
    // A message of ip's conversation changed state (or was added).
    void changed(const QString &ip);
    // The message with id (to ip) is now in state; also for automatic replies.
    void stateChanged(const QString &ip, const QByteArray &id, Deliveries::State state);
    // A message to ip ended not delivered (after its retries, or with a full outbox).
    void notDelivered(const QString &ip, const QByteArray &datagram);

private:
    struct Flight {
        QString ip;
        QByteArray peerKey;
        SealedMessage message;
        int retries = 0;
        bool listed = true;
        std::unique_ptr<QTimer> timer;
    };

    bool presentAt(const QString &ip) const;
    SealedMessage newMessage(const QByteArray &peerKey, const QByteArray &datagram);
    void launch(const QString &ip, const QByteArray &peerKey, const SealedMessage &message, bool listed);
    bool transmit(const Flight &flight);
    void retry(const QByteArray &id);
    void giveUp(const QByteArray &id);
    State queue(const QString &ip, const QByteArray &peerKey, const SealedMessage &message, State state);
    void flushOutbox(const QByteArray &peerKey, const QString &ip);
    void list(const QString &ip, const Sent &sent);
    void setState(const QString &ip, const QByteArray &id, State state);
    void loadSequences();

    QString configDir_;
    PeerSecurity &security_;
    PresenceService &presence_;
    TZnUDP &endpoint_;
    std::unique_ptr<SendCounter> counter_;
    std::unique_ptr<Outbox> outbox_;
    QHash<QByteArray, quint32> sequences_; // the last sequence sent, by peer key
    QHash<QByteArray, qint64> lastReceiptMs_; // when each peer last answered, on clock_
    QElapsedTimer clock_;
    QHash<QByteArray, std::shared_ptr<Flight>> inFlight_; // by id
    QHash<QString, QList<Sent>> conversations_;
    QList<int> retryDelaysMs_ = DefaultRetryDelaysMs;
    QTimer sequenceSave_;
};
