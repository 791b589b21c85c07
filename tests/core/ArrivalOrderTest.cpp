#include "core/ArrivalOrder.h"
#include "harness/TempDir.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray KeyA(32, 'a');
const QByteArray KeyB(32, 'b');

ArrivalOrder::Arrival arrival(quint64 counter, quint32 sequence, qint64 atMs = 0)
{
    ArrivalOrder::Arrival a;
    a.message = {{QByteArray(8, 'p'), counter}, sequence, "1text " + QByteArray::number(sequence)};
    a.fromIp = u"10.0.0.1"_s;
    a.arrivedMs = atMs;
    return a;
}

QList<quint32> sequences(const QList<ArrivalOrder::Arrival> &shown)
{
    QList<quint32> out;
    for (const ArrivalOrder::Arrival &a : shown)
        out << a.message.sequence;
    return out;
}

// Feeds arrivals of one sender by sequence (the counter is the sequence plus 100) and says
// what was shown, in order.
QList<quint32> feed(ArrivalOrder &order, const QList<quint32> &arriving, const QByteArray &key = KeyA)
{
    QList<ArrivalOrder::Arrival> shown;
    for (const quint32 s : arriving)
        order.arrive(key, arrival(100 + s, s), shown);
    return sequences(shown);
}

} // namespace

TEST(SealedMessageFormat, RoundTripsAndRefusesWhatIsNotAMessage)
{
    const SealedMessage message{{"12345678", 0x0102030405060708ULL}, 7, "1你好"};
    const QByteArray bytes = message.bytes();
    EXPECT_EQ(bytes.toHex(), "3132333435363738" "0102030405060708" "00000007" + QByteArray("1你好").toHex());
    const auto parsed = SealedMessage::parse(bytes);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->id, message.id);
    EXPECT_EQ(parsed->sequence, 7u);
    EXPECT_EQ(parsed->datagram, message.datagram);

    const struct {
        const char *why;
        QByteArray bytes;
    } refused[] = {
        {"header only", bytes.left(SealedMessage::HeaderSize)},
        {"counter 0", SealedMessage{{"12345678", 0}, 7, "1x"}.bytes()},
        {"sequence 0", SealedMessage{{"12345678", 1}, 0, "1x"}.bytes()},
        {"a file offer", SealedMessage{{"12345678", 1}, 1, "5x"}.bytes()},
        {"too long", SealedMessage{{"12345678", 1}, 1, "1" + QByteArray(255, 'x')}.bytes()},
    };
    for (const auto &r : refused)
        EXPECT_FALSE(SealedMessage::parse(r.bytes)) << r.why;
    EXPECT_TRUE(SealedMessage::parse(SealedMessage{{"12345678", 1}, 1, "6" + QByteArray(254, 'x')}.bytes()));
}

TEST(ArrivalOrder, ShowsEachMessageOnceInTheOrderItWasSent)
{
    const struct {
        const char *what;
        QList<quint32> arriving;
        QList<quint32> shown;
    } cases[] = {
        {"in order", {1, 2, 3}, {1, 2, 3}},
        {"a retry overtakes", {1, 3, 2, 4}, {1, 2, 3, 4}},
        {"copies of each", {1, 1, 2, 1, 2, 3, 3}, {1, 2, 3}},
        {"two gaps filled backwards", {1, 4, 3, 2}, {1, 2, 3, 4}},
        {"the first heard starts where it is", {5, 6, 8, 7}, {5, 6, 7, 8}},
        {"a late copy of one shown", {1, 2, 3, 2}, {1, 2, 3}},
    };
    for (const auto &c : cases) {
        ArrivalOrder order{QString()};
        EXPECT_EQ(feed(order, c.arriving), c.shown) << c.what;
        EXPECT_EQ(order.heldCount(), 0) << c.what;
    }

    // A message from before what was shown, under an id never seen (the sender's outbox sent it
    // again after giving up), is shown when it comes.
    ArrivalOrder order{QString()};
    feed(order, {1, 2});
    QList<ArrivalOrder::Arrival> shown;
    EXPECT_TRUE(order.arrive(KeyA, arrival(999, 1), shown));
    EXPECT_EQ(sequences(shown), QList<quint32>{1});
    // Each sender counts alone.
    EXPECT_EQ(feed(order, {1, 2}, KeyB), (QList<quint32>{1, 2}));
}

TEST(ArrivalOrder, AGapIsWaitedOnForTheHoldTimeThenSkipped)
{
    ArrivalOrder order{QString()};
    order.setHoldMs(1000);
    QList<ArrivalOrder::Arrival> shown;
    order.arrive(KeyA, arrival(101, 1, 0), shown);
    order.arrive(KeyA, arrival(103, 3, 100), shown);
    order.arrive(KeyA, arrival(104, 4, 200), shown);
    EXPECT_EQ(sequences(shown), QList<quint32>{1});
    ASSERT_EQ(order.nextDueMs(), 1100);
    EXPECT_TRUE(order.release(1099).isEmpty());
    EXPECT_EQ(sequences(order.release(1100)), (QList<quint32>{3, 4}));
    EXPECT_FALSE(order.nextDueMs());
    // The missing one, late, is still shown once.
    shown.clear();
    EXPECT_TRUE(order.arrive(KeyA, arrival(102, 2, 5000), shown));
    EXPECT_EQ(sequences(shown), QList<quint32>{2});
    EXPECT_FALSE(order.arrive(KeyA, arrival(102, 2, 5001), shown));

    // Past the bound of held messages the oldest is shown rather than more held.
    ArrivalOrder bounded{QString()};
    bounded.setMaxHeld(2);
    EXPECT_EQ(feed(bounded, {1, 3, 4, 5}), (QList<quint32>{1, 3, 4, 5}));
}

TEST(ArrivalOrder, WhatWasShownStaysSeenAcrossARestartAndTheJournalStaysBounded)
{
    TempDir dir;
    const QString path = dir.file(u"messages.seen"_s);
    {
        ArrivalOrder order(path);
        EXPECT_EQ(feed(order, {1, 2, 3}), (QList<quint32>{1, 2, 3}));
        EXPECT_EQ(QFile(path).permissions() & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                  QFile::Permissions());
    }
    {
        ArrivalOrder order(path);
        EXPECT_TRUE(order.error().isEmpty()) << order.error().toStdString();
        EXPECT_EQ(feed(order, {2, 3, 5, 4}), (QList<quint32>{4, 5})) << "no copy shown twice, the gap still waited on";
    }
    // A line cut short by a crash costs that line only.
    dir.write(u"messages.seen"_s, dir.read(u"messages.seen"_s) + KeyA.toHex() + " 70");
    {
        ArrivalOrder order(path);
        EXPECT_EQ(feed(order, {5, 6}), QList<quint32>{6});
    }
    // Something that is not a journal of ours is replaced, and told.
    dir.write(u"messages.seen"_s, "garbage");
    {
        ArrivalOrder order(path);
        EXPECT_FALSE(order.error().isEmpty());
        EXPECT_EQ(feed(order, {1}), QList<quint32>{1});
    }
    {
        ArrivalOrder order(path);
        EXPECT_TRUE(order.error().isEmpty());
        EXPECT_TRUE(feed(order, {1}).isEmpty());
    }
    // Remembered ids are bounded per sender: the newest are kept.
    {
        ArrivalOrder order(path);
        order.setRememberedIds(2);
        feed(order, {2, 3, 4}, KeyB);
        QList<ArrivalOrder::Arrival> shown;
        EXPECT_FALSE(order.arrive(KeyB, arrival(104, 4), shown));
        EXPECT_TRUE(order.arrive(KeyB, arrival(102, 2), shown)) << "forgotten, so new again";
    }
}
