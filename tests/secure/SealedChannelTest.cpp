#include "secure/Envelope.h"
#include "tests/secure/TwoChannels.h"

#include <QtEndian>

#include <gtest/gtest.h>

using Drop = SealedChannel::Drop;

TEST(SealedChannelTest, CarriesEveryKindAndSizeBothWays)
{
    TwoChannels t;
    SealedChannel atA(t.a, {}, {});
    SealedChannel fromB(t.b, {}, {});
    const std::pair<quint8, int> cases[] = {{InnerKind::BaseDatagram, 0}, {InnerKind::BaseDatagram, 1},
                                            {InnerKind::BaseDatagram, 200}, {0x7f, Envelope::MaxInnerSize}};
    quint64 lastCounter = 0;
    for (const auto &[kind, size] : cases) {
        const QByteArray inner(size, char('a' + size % 26));
        const QByteArray envelope = t.fromA.seal(t.b.publicKey(), kind, inner);
        ASSERT_EQ(envelope.size(), Envelope::Overhead + size);
        EXPECT_EQ(envelope.left(2), QByteArray("9\x01"));
        EXPECT_EQ(envelope.mid(Envelope::KeyIdOffset, 8), t.a.keyId());
        const quint64 counter = qFromBigEndian<quint64>(envelope.constData() + Envelope::CounterOffset);
        EXPECT_GT(counter, lastCounter);
        EXPECT_EQ(counter, t.fromA.sendCounter());
        lastCounter = counter;

        const auto opened = t.atB.open(envelope, t.bKnows);
        ASSERT_TRUE(opened) << size;
        EXPECT_EQ(opened->senderKey, t.a.publicKey());
        EXPECT_EQ(opened->innerKind, kind);
        EXPECT_EQ(opened->inner, inner);
        // The way back uses the other session key of the same pair.
        const auto back = atA.open(fromB.seal(t.a.publicKey(), kind, inner), t.aKnows);
        ASSERT_TRUE(back) << size;
        EXPECT_EQ(back->inner, inner);
        // An envelope for someone else does not open.
        EXPECT_FALSE(atA.open(envelope, t.bKnows));
    }
    EXPECT_TRUE(t.fromA.seal(t.b.publicKey(), 1, QByteArray(Envelope::MaxInnerSize + 1, 'x')).isEmpty());
    EXPECT_TRUE(t.fromA.seal(QByteArray(32, '\0'), 1, "x").isEmpty());
    EXPECT_TRUE(t.fromA.seal(t.b.publicKey().chopped(1), 1, "x").isEmpty());
}

TEST(SealedChannelTest, DropsEveryChangedByteAndStillOpensTheOriginal)
{
    TwoChannels t;
    t.fromA.seal(t.b.publicKey(), 1, "x"); // counter 1 would become 0, never accepted, by a flip
    const QByteArray envelope = t.fromA.seal(t.b.publicKey(), InnerKind::BaseDatagram, QByteArray(40, 'm'));
    struct Field {
        const char *name;
        int from, to;
        Drop expected;
    };
    const Field fields[] = {
        {"type", 0, 1, Drop::Malformed},          {"version", 1, 2, Drop::Malformed},
        {"key id", 2, 10, Drop::UnknownKey},      {"counter", 10, 18, Drop::NotOpened},
        {"nonce", 18, 42, Drop::NotOpened},       {"ciphertext and tag", 42, int(envelope.size()), Drop::NotOpened},
    };
    for (const Field &f : fields) {
        for (int i = f.from; i < f.to; ++i) {
            for (char flip : {'\x01', '\x80'}) {
                QByteArray changed = envelope;
                changed[i] = char(changed[i] ^ flip);
                Drop why{};
                EXPECT_FALSE(t.atB.open(changed, t.bKnows, &why)) << f.name << " byte " << i;
                EXPECT_EQ(why, f.expected) << f.name << " byte " << i;
            }
        }
    }
    QByteArray version2 = envelope;
    version2[1] = 2;
    EXPECT_FALSE(t.atB.open(version2, t.bKnows));
    EXPECT_EQ(t.atB.dropped(Drop::Malformed), 2u * 2 + 1);
    // None of the changed copies used up the original's counter.
    EXPECT_TRUE(t.atB.open(envelope, t.bKnows));
}

TEST(SealedChannelTest, DropsCutAndPaddedEnvelopes)
{
    TwoChannels t;
    const QByteArray envelope = t.fromA.seal(t.b.publicKey(), InnerKind::BaseDatagram, QByteArray(100, 'm'));
    for (int size = 0; size < envelope.size(); ++size) {
        Drop why{};
        EXPECT_FALSE(t.atB.open(envelope.left(size), t.bKnows, &why)) << size;
        EXPECT_EQ(why, size < Envelope::Overhead ? Drop::Malformed : Drop::NotOpened) << size;
    }
    const QByteArray longest = t.fromA.seal(t.b.publicKey(), 1, QByteArray(Envelope::MaxInnerSize, 'm'));
    const std::pair<QByteArray, Drop> padded[] = {{envelope + 'x', Drop::NotOpened},
                                                  {longest + 'x', Drop::Malformed},
                                                  {envelope + QByteArray(1 << 16, 'x'), Drop::Malformed}};
    for (const auto &[bytes, expected] : padded) {
        Drop why{};
        EXPECT_FALSE(t.atB.open(bytes, t.bKnows, &why)) << bytes.size();
        EXPECT_EQ(why, expected) << bytes.size();
    }
    EXPECT_TRUE(t.atB.open(envelope, t.bKnows));
    EXPECT_TRUE(t.atB.open(longest, t.bKnows));
}

TEST(SealedChannelTest, DropsUnknownSendersAndReplaysOutsideOrInsideTheWindow)
{
    TwoChannels t;
    std::vector<QByteArray> sent; // sent[i] carries counter i + 1
    for (int i = 0; i < 1200; ++i)
        sent.push_back(t.fromA.seal(t.b.publicKey(), 1, QByteArray::number(i)));

    Drop why{};
    EXPECT_FALSE(t.atB.open(sent[0], knowing({}), &why));
    EXPECT_EQ(why, Drop::UnknownKey);
    EXPECT_FALSE(t.atB.open(sent[0], knowing({t.b.publicKey()}), &why)); // a key with another id
    EXPECT_EQ(why, Drop::UnknownKey);

    // Index i carries counter i + 1; the window reaches 1024 below the highest counter (1200).
    const std::pair<int, std::optional<Drop>> order[] = {
        {0, {}},    {0, Drop::Replayed},   {1199, {}}, {1199, Drop::Replayed}, {200, {}},
        {200, Drop::Replayed}, {175, {}}, {174, Drop::Replayed}, {1, Drop::Replayed}, {1198, {}},
        {1198, Drop::Replayed},
    };
    for (const auto &[index, expected] : order) {
        const auto opened = t.atB.open(sent[size_t(index)], t.bKnows, &why);
        EXPECT_EQ(opened.has_value(), !expected) << index;
        if (opened)
            EXPECT_EQ(opened->inner, QByteArray::number(index));
        else
            EXPECT_EQ(why, *expected) << index;
    }
    EXPECT_EQ(t.atB.dropped(Drop::UnknownKey), 2u);
}

TEST(SealedChannelTest, AResetIdentityTalksUnderItsNewKeyWithCountersGoingOn)
{
    TwoChannels t;
    t.fromA.seal(t.b.publicKey(), 1, "old");
    const quint64 before = t.fromA.sendCounter();
    const IdentityKey renewed = IdentityKey::generate();
    t.fromA.setIdentity(renewed);
    const QByteArray envelope = t.fromA.seal(t.b.publicKey(), 1, "new");
    EXPECT_GT(t.fromA.sendCounter(), before);
    EXPECT_EQ(envelope.mid(Envelope::KeyIdOffset, 8), renewed.keyId());
    EXPECT_FALSE(t.atB.open(envelope, t.bKnows)); // b has not heard of the new key yet
    const auto opened = t.atB.open(envelope, knowing({renewed.publicKey()}));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->inner, QByteArray("new"));
}
