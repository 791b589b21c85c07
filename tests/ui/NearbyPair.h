#pragma once

#include "core/PresenceService.h"
#include "tests/support/RawUdpPeer.h"
#include "tests/support/TestPeer.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"

#include <QTest>
#include <gtest/gtest.h>
#include <memory>

// peer's presence announces itself to ip from now on, and answers at once. A test namespace
// has only the loopback interface, which presence never broadcasts on, so a test run never
// announces itself on a real LAN.
inline void linkPresence(TestPeer &peer, const QString &ip)
{
    PresenceService &presence = *peer.form1->presence();
    presence.setMaxAnswerDelayMs(0);
    presence.setUnicastTargets(QStringList{ip});
    presence.refresh();
}

inline bool seesPeer(const TestPeer &peer, const TestPeer &other)
{
    const QList<NearbyPeer> peers = peer.form1->presence()->peers();
    return std::any_of(peers.begin(), peers.end(), [&](const NearbyPeer &p) { return p.address == other.ip(); });
}

// Two complete peers, A (阿明) on 127.0.0.2 and B (阿红) on 127.0.0.3, started, whose
// presence reaches the other by unicast.
class NearbyPair : public ::testing::Test {
protected:
    NearbyPair()
    {
        a->storeNickname(QStringLiteral("阿明"));
        b->storeNickname(QStringLiteral("阿红"));
        a->start();
        b->start();
    }

    void SetUp() override
    {
        ASSERT_TRUE(a->form1->receiving() && b->form1->receiving()) << "127.0.0.2 or .3:2928 is taken";
        linkPresence(*a, b->ip());
        linkPresence(*b, a->ip());
    }

    bool bothSee() const { return seesPeer(*a, *b) && seesPeer(*b, *a); }

    std::unique_ptr<TestPeer> a = std::make_unique<TestPeer>(QStringLiteral("127.0.0.2"));
    std::unique_ptr<TestPeer> b = std::make_unique<TestPeer>(QStringLiteral("127.0.0.3"));
};
