#pragma once

#include "core/NearbyTable.h"
#include "core/PresenceDatagram.h"
#include "core/PresenceRateLimit.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

class TZnUDP;

// What presence uses and sees on one interface, for the diagnostics window.
struct PresenceInterface {
    QString name;
    QString address;
    QString broadcast;
    int prefixLength = 0;
    QDateTime lastHelloSent; // invalid until a hello went out here
    QDateTime lastHeard;     // last presence datagram from an address on this subnet
};

// Presence on the LAN through the peer's own datagram endpoint (port 2928): announces this
// peer with a hello to the directed broadcast address of each usable interface (and to any
// unicast targets) at start, when an interface appears or changes address, and on refresh;
// a keep-alive once per keep-alive period; a goodbye when stopped. Answers each hello by
// unicast after a random delay. Keeps the table of nearby peers and reports its changes;
// a peer not heard for ExpiryPeriods keep-alive periods is gone as that moment comes (one
// timer, for the earliest expiry, runs while the table holds anybody).
// When nothing changes the service wakes up once per keep-alive period (interfaces are
// polled then), and for an expiry. Turned off, it neither sends nor reports peers. Destroy it before the
// endpoint: its destructor sends the goodbye.
class PresenceService : public QObject {
    Q_OBJECT

public:
    static constexpr int DefaultKeepAliveMs = 60'000;
    static constexpr int ExpiryPeriods = 3;
    static constexpr int DefaultMaxAnswerDelayMs = 500;
    // Answers waiting for their delay; a hello beyond this many is not answered.
    static constexpr int MaxPendingAnswers = 256;
    // Interfaces skipped unless chosen: container bridges, veth, tunnels, libvirt, loopback.
    static bool isVirtualInterface(const QString &name);

    PresenceService(TZnUDP &endpoint, const QByteArray &ownId, QObject *parent = nullptr);
    ~PresenceService() override;

    // --- settings ---
    bool isEnabled() const { return enabled_; }
    // Off: a goodbye if it was running, every peer reported gone, nothing sent or reported.
    void setEnabled(bool enabled);
    int keepAliveMs() const { return keepAliveMs_; }
    void setKeepAliveMs(int ms);
    int maxAnswerDelayMs() const { return maxAnswerDelayMs_; }
    void setMaxAnswerDelayMs(int ms) { maxAnswerDelayMs_ = std::max(0, ms); }
    // Interface names to use; empty: every usable interface that is not virtual.
    void setChosenInterfaces(const QStringList &names);
    // Dotted IPv4 addresses that get our hellos and keep-alives directly (peers beyond a
    // broadcast); anything else is left out, so that no send waits for a host look-up.
    void setUnicastTargets(const QStringList &addresses);
    // What we announce (publicKey: the identity key, sent with CapabilitySealed); a change
    // while running is announced at once by a keep-alive.
    void setOwnInfo(const QString &nickname, quint8 statusMode, quint16 capabilities,
                    const QByteArray &publicKey = {});
    PresenceRateLimit &rateLimit() { return rateLimit_; }
    NearbyTable &table() { return table_; }

    // --- operations ---
    void start();   // hello everywhere, then keep-alives
    void stop();    // goodbye everywhere; no more sending
    void refresh(); // hello everywhere now (the person asked)
    // Handler for the dispatcher's "8" datagrams: the whole datagram, type byte included.
    void handleDatagram(const QByteArray &datagram, const QString &fromIp);

    // --- what it sees ---
    QByteArray ownId() const { return ownId_; }
    QList<NearbyPeer> peers() const { return enabled_ ? table_.snapshot() : QList<NearbyPeer>(); }
    QList<PresenceInterface> interfaces() const { return interfaces_; }
    // Whether the endpoint holds port 2928 (a firewall aside, nothing is heard otherwise).
    bool endpointBound() const;
    // Datagrams dropped by the rate limit so far.
    int rateLimited() const { return rateLimited_; }

signals:
    void peerFound(const NearbyPeer &peer);
    void peerChanged(const NearbyPeer &peer);
    void peerGone(const QByteArray &id);
    // Every hello, answer or keep-alive taken into the table, after peerFound or peerChanged.
    void peerHeard(const NearbyPeer &peer);
    void interfacesChanged();

private:
    bool running() const { return started_ && enabled_; }
    PresenceDatagram own(PresenceDatagram::Kind kind) const;
    void tick();
    void announce(PresenceDatagram::Kind kind);
    QList<PresenceInterface> scanInterfaces() const;
    QList<PresenceInterface> updateInterfaces();
    bool sendTo(const QString &ip, PresenceDatagram::Kind kind, bool broadcast);
    void scheduleAnswer(const QString &ip);
    void noteHeard(const QString &fromIp);
    void observe(const PresenceDatagram &datagram, const QString &fromIp);
    void expire();
    void scheduleExpiry();
    void forgetAll();

    TZnUDP &endpoint_;
    const QByteArray ownId_;
    QByteArray nickname_;
    quint8 statusMode_ = 0;
    quint16 capabilities_ = 0;
    QByteArray publicKey_;
    bool enabled_ = true;
    bool started_ = false;
    bool announcePending_ = false;
    int keepAliveMs_ = DefaultKeepAliveMs;
    int maxAnswerDelayMs_ = DefaultMaxAnswerDelayMs;
    int rateLimited_ = 0;
    QStringList chosenInterfaces_;
    QStringList unicastTargets_;
    QList<PresenceInterface> interfaces_;
    QSet<QString> pendingAnswers_;
    NearbyTable table_;
    PresenceRateLimit rateLimit_;
    QElapsedTimer clock_;
    QTimer keepAlive_;
    QTimer expiry_; // single shot, at the table's earliest expiry
};
