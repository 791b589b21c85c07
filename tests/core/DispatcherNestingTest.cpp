#include "core/Gbk.h"
#include "core/Packet.h"
#include "tests/core/DispatcherPeer.h"

#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

QString conversionError(char c) { return u"'%1' is not a valid integer value"_s.arg(QLatin1Char(c)); }

// B shows every failure in an error box, as the program does; boxes stay open until the test
// releases them.
class DispatcherNesting : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(a.bound()) << "127.0.0.2:2928 is taken";
        ASSERT_TRUE(b.bound()) << "127.0.0.3:2928 is taken";
        b.reporter.boxes = &b.prompts;
        b.prompts.holdBoxes(20000);
    }

    // Sends each byte of bytes as a datagram of its own to B; once B has received them all,
    // calls whenAllIn (with the boxes still open) and closes the boxes. Returns when all closed.
    void sendWithBoxesOpen(const QByteArray &bytes, const std::function<void()> &whenAllIn)
    {
        bool done = false;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            if (done || b.received.size() < bytes.size())
                return;
            done = true;
            whenAllIn();
            b.prompts.release();
        });
        watcher.start(5);
        for (char c : bytes)
            a.sendRaw(b.address, QByteArray(1, c));
        EXPECT_TRUE(QTest::qWaitFor([&] { return done && b.prompts.openBoxes() == 0; }, 20000));
        EXPECT_FALSE(b.prompts.holdTimedOut);
    }

    DispatcherPeer a{u"127.0.0.2"_s};
    DispatcherPeer b{u"127.0.0.3"_s};
};

TEST_F(DispatcherNesting, DatagramsPastTheBoundWaitInOrderAndPastTheBacklogAreDropped)
{
    b.dispatcher.setMaxNesting(2);
    b.dispatcher.setMaxBacklog(3);
    sendWithBoxesOpen("abcdefg", [&] {
        EXPECT_EQ(b.prompts.openBoxes(), 2);
        EXPECT_EQ(b.dispatcher.nesting(), 2);
        EXPECT_EQ(b.dispatcher.backlog(), 3);
        EXPECT_EQ(b.dispatcher.dropped(), 2u);
        EXPECT_EQ(b.reporter.errors, (QStringList{conversionError('a'), conversionError('b')}));
    });
    EXPECT_EQ(b.prompts.mostOpenBoxes, 2);
    // The waiting ones came in their order once the boxes closed; f and g are gone.
    EXPECT_EQ(b.reporter.errors,
              (QStringList{conversionError('a'), conversionError('b'), conversionError('c'),
                           conversionError('d'), conversionError('e')}));
    EXPECT_EQ(b.dispatcher.backlog(), 0);
    EXPECT_EQ(b.dispatcher.nesting(), 0);

    // Afterwards every datagram is dispatched at once again.
    ASSERT_TRUE(a.deliver(b, "1" + Gbk::encode(u"你好"_s)));
    ASSERT_EQ(b.windows.messageWindows.size(), 1);
    EXPECT_EQ(b.windows.messageWindows[0].mess, u"你好"_s);
}

TEST_F(DispatcherNesting, BelowTheBoundEveryBoxOpensAtOnceAndAMessageBehindWaitingOnesWaitsItsTurn)
{
    // Up to the bound, nested boxes open at once, as before; the message arriving past it
    // waits behind the failure that waits, and is shown after it.
    QStringList order;
    b.prompts.whileOpen = [&](const ScriptedPrompts::Shown &shown) { order << shown.text; };
    sendWithBoxesOpen(QByteArray("abcdefgh").left(Dispatcher::MaxNesting) + "z", [&] {
        EXPECT_EQ(b.prompts.openBoxes(), Dispatcher::MaxNesting);
        EXPECT_EQ(b.dispatcher.backlog(), 1);
        a.sendRaw(b.address, "1late");
        EXPECT_TRUE(b.waitForDatagrams(Dispatcher::MaxNesting + 2));
        EXPECT_TRUE(b.windows.messageWindows.isEmpty()) << "the message overtook the waiting datagram";
        EXPECT_EQ(b.dispatcher.backlog(), 2);
    });
    EXPECT_EQ(b.prompts.mostOpenBoxes, Dispatcher::MaxNesting);
    EXPECT_EQ(order.size(), Dispatcher::MaxNesting + 1);
    EXPECT_EQ(order.last(), conversionError('z'));
    ASSERT_EQ(b.windows.messageWindows.size(), 1);
    EXPECT_EQ(b.windows.messageWindows[0].mess, u"late"_s);
    EXPECT_EQ(b.dispatcher.dropped(), 0u);
}

} // namespace
