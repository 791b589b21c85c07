#include "harness/TempDir.h"
#include "secure/Envelope.h"
#include "tests/secure/TwoChannels.h"

#include <QDir>
#include <QtEndian>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {

quint64 counterOf(const QByteArray &envelope)
{
    return qFromBigEndian<quint64>(envelope.constData() + Envelope::CounterOffset);
}

unsigned modeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0;
}

} // namespace

// Every run ends like a crash: nothing is written at exit but what the test asks for.
TEST(ChannelRestartTest, CountersNeverRepeatAcrossRestartsEvenWithADamagedFile)
{
    TempDir dir;
    const QString counters = dir.file(u"counter"_s);
    const IdentityKey a = IdentityKey::generate();
    const QByteArray peer = IdentityKey::generate().publicKey();
    // Runs that seal a few envelopes, more than a block, and again a few.
    quint64 highest = 0;
    for (int sealed : {3, int(SendCounter::Block) + 5, 1}) {
        SealedChannel channel(a, counters, {});
        for (int i = 0; i < sealed; ++i) {
            const quint64 counter = counterOf(channel.seal(peer, 1, "x"));
            ASSERT_GT(counter, highest);
            highest = counter;
        }
    }
    EXPECT_EQ(modeOf(counters), 0600u);
    dir.write(u"counter"_s, "talvino-counter 1\nnonsense\n");
    SealedChannel channel(a, counters, {});
    EXPECT_GT(counterOf(channel.seal(peer, 1, "x")), highest);
}

TEST(ChannelRestartTest, SavedReplayStateRefusesOldEnvelopesAfterARestart)
{
    TempDir dir;
    const QString replay = dir.file(u"replay"_s);
    TwoChannels t;
    const IdentityKey c = IdentityKey::generate();
    SealedChannel fromC(c, {}, {});
    const auto bKnows = knowing({t.a.publicKey(), c.publicKey()});
    const QByteArray fromA1 = t.fromA.seal(t.b.publicKey(), 1, "a1");
    const QByteArray fromA2 = t.fromA.seal(t.b.publicKey(), 1, "a2");
    const QByteArray fromC1 = fromC.seal(t.b.publicKey(), 1, "c1");
    {
        SealedChannel atB(t.b, {}, replay);
        ASSERT_TRUE(atB.open(fromA2, bKnows));
        ASSERT_TRUE(atB.open(fromC1, bKnows));
        QString error;
        ASSERT_TRUE(atB.saveReplayState(&error)) << error.toStdString();
    }
    EXPECT_EQ(modeOf(replay), 0600u);
    SealedChannel atB(t.b, {}, replay);
    SealedChannel::Drop why{};
    for (const QByteArray &old : {fromA1, fromA2, fromC1}) {
        EXPECT_FALSE(atB.open(old, bKnows, &why));
        EXPECT_EQ(why, SealedChannel::Drop::Replayed);
    }
    EXPECT_TRUE(atB.open(t.fromA.seal(t.b.publicKey(), 1, "a3"), bKnows));
    EXPECT_TRUE(atB.open(fromC.seal(t.b.publicKey(), 1, "c2"), bKnows));

    // A damaged replay file costs the state it held, nothing else.
    dir.write(u"replay"_s, "talvino-replay 1\nzz 5\n" + t.a.publicKey().toHex() + " 1x\n");
    SealedChannel afterDamage(t.b, {}, replay);
    EXPECT_TRUE(afterDamage.open(fromA1, bKnows));
}
