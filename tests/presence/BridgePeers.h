#pragma once

// Complete peers, each a process of its own (presence_peer) in a network namespace of its
// own, all joined by one bridge: the fixture of the bridge tests.
#include "bench/BridgeNetwork.h"
#include "bench/PeerProcess.h"
#include "bench/PresenceTraffic.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

inline constexpr int StartMs = 20'000;     // a complete peer starting on a busy machine
inline constexpr int DiscoveryMs = 15'000; // everyone found
inline constexpr int FastKeepAliveMs = 400;

// One peer process and what the bridge knows of it.
struct BridgePeer {
    QStringList command;
    std::unique_ptr<PeerProcess> process;
    QStringList ports;   // its veth ends on the bridge
    QString address;     // its first address
    QString nick;
    int ns = -1;         // its namespace in the bridge network

    QString id() const { return process->id(); }
    // Its "found" lines for the peer with the given id.
    int timesFound(const QString &otherId) const
    {
        return int(process->linesStartingWith(QStringLiteral("found ") + otherId + u' ').size());
    }
    bool hasFound(const BridgePeer &other) const { return timesFound(other.id()) > 0; }
};

class BridgePeers : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!net.unavailable().isEmpty())
            GTEST_SKIP() << "no bridge network: " << net.unavailable().toStdString();
    }

    // A peer in a namespace of its own with one interface per entry of interfaces (each a list
    // of addresses with prefix), started with the arguments and the keep-alive period.
    BridgePeer &addPeer(const QList<QStringList> &interfaces, const QString &nick, QStringList arguments = {},
                        int keepAliveMs = FastKeepAliveMs)
    {
        BridgePeer peer;
        const int ns = net.addNamespace();
        EXPECT_GE(ns, 0);
        peer.ns = ns;
        for (const QStringList &addresses : interfaces) {
            peer.ports << net.addInterface(ns, addresses);
            EXPECT_FALSE(peer.ports.last().isEmpty());
        }
        peer.address = interfaces.value(0).value(0).section(u'/', 0, 0);
        peer.nick = nick;
        arguments << QStringLiteral("--nick") << nick << QStringLiteral("--keepalive-ms") << QString::number(keepAliveMs)
                  << QStringLiteral("--answer-delay-ms") << QStringLiteral("100");
        peer.command = net.command(ns, QStringLiteral(PRESENCE_PEER), arguments);
        peers.push_back(std::move(peer));
        return peers.back();
    }
    BridgePeer &addPeer(int host, const QString &nick, const QStringList &arguments = {},
                        int keepAliveMs = FastKeepAliveMs)
    {
        return addPeer({{QStringLiteral("10.88.0.%1/24").arg(host)}}, nick, arguments, keepAliveMs);
    }

    // Starts counting on every port, then every peer, and waits for their ready lines.
    void startAll()
    {
        QStringList ports;
        for (const BridgePeer &p : peers)
            ports << p.ports;
        traffic = std::make_unique<PresenceTraffic>(ports);
        ASSERT_TRUE(traffic->isOpen()) << "no packet socket";
        for (BridgePeer &p : peers)
            p.process = std::make_unique<PeerProcess>(p.command);
        for (BridgePeer &p : peers)
            ASSERT_TRUE(p.process->waitReady(StartMs)) << p.nick.toStdString() << " did not start";
    }

    // Waits until each of the peers has found each other one.
    bool allFound(const std::vector<BridgePeer *> &group)
    {
        return runEventsUntil(
            [&] {
                for (const BridgePeer *a : group)
                    for (const BridgePeer *b : group)
                        if (a != b && !a->hasFound(*b))
                            return false;
                return true;
            },
            DiscoveryMs);
    }

    BridgeNetwork net; // made first, removed last: the processes end before their namespaces go
    std::vector<BridgePeer> peers;
    std::unique_ptr<PresenceTraffic> traffic;
};
