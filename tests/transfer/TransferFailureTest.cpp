#include "tests/transfer/TwoPeers.h"

#include <csignal>
#include <sys/resource.h>

namespace {

const QString Interrupted = u"连接已中断"_s;
const QByteArray Before = "the file the user had";

class TransferFailure : public TwoPeers {
protected:
    // Sends a file of size bytes to target.bin, which holds Before. interrupt, if given, runs
    // once B serves the connection and the body is going out. True once both windows have
    // been released.
    bool sendOverExistingTarget(qint64 size, const std::function<void()> &interrupt = {})
    {
        files.write(u"target.bin"_s, Before);
        sending = openSendWindow();
        receiving = offer(sending, makeFile(u"a.bin"_s, size));
        if (!receiving)
            return false;
        if (interrupt) {
            duringBody(sending, [this, interrupt] {
                if (QTest::qWaitFor([&] { return receiving->jsd->ConnectionCount() == 1; }, Wait))
                    interrupt();
            });
        }
        accept(receiving, files.file(u"target.bin"_s));
        return released(sending) && released(receiving);
    }

    // The target as it was, and no partial file beside it.
    void expectTargetUntouched() const
    {
        EXPECT_EQ(files.read(u"target.bin"_s), Before);
        EXPECT_EQ(QDir(files.path()).entryList(QDir::Files | QDir::Hidden).filter(u".part"_s), QStringList());
    }

    QPointer<TForm6> sending;
    QPointer<TForm7> receiving;
};

} // namespace

TEST_F(TransferFailure, RefusingSendsNothingAndTheSenderWaitsUntilCancelled)
{
    sending = openSendWindow();
    receiving = offer(sending, makeFile(u"a.bin"_s, 1000));
    ASSERT_TRUE(receiving);
    receiving->Button2->click();
    EXPECT_TRUE(released(receiving));
    EXPECT_EQ(b.form1->Tag, 0);

    // A datagram sent after the refusal arrives after anything the refusal could have sent.
    Packet::send(b.endpoint(), a.ip(), Packet::friendRequest(u"乙"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.prompts.texts(u"confirm"_s).isEmpty(); }, Wait));
    EXPECT_TRUE(b.prompts.texts(u"save"_s).isEmpty());
    ASSERT_TRUE(sending);
    EXPECT_TRUE(sending->isVisible());
    EXPECT_FALSE(sending->fsd->Connected());
    EXPECT_TRUE(sending->ztPanel1->text().isEmpty());
    EXPECT_EQ(a.form1->Tag, 1);

    sending->Button2->click();
    EXPECT_TRUE(released(sending));
    EXPECT_EQ(a.form1->Tag, 0);
    EXPECT_TRUE(a.prompts.texts(u"message"_s).isEmpty());
    EXPECT_TRUE(a.reporter.errors.isEmpty());
}

TEST_F(TransferFailure, CancelOnTheSenderDuringTheBodyLeavesTheTargetAsItWas)
{
    ASSERT_TRUE(sendOverExistingTarget(5 * 1024 * 1024, [this] { sending->Button2->click(); }));
    expectTargetUntouched();
    // The abort closes the connection twice, each time with the same end message.
    EXPECT_EQ(a.prompts.texts(u"message"_s), (QStringList{Interrupted, Interrupted}));
    EXPECT_EQ(a.reporter.errors, QStringList{u"Socket send aborted"_s});
    EXPECT_EQ(b.prompts.texts(u"message"_s), QStringList{Interrupted});
    EXPECT_EQ(a.form1->Tag, 0);
    EXPECT_EQ(b.form1->Tag, 0);
}

TEST_F(TransferFailure, ReceiverClosingDuringTheBodyGetsNoFileAndTheSenderNoSuccess)
{
    ASSERT_TRUE(sendOverExistingTarget(5 * 1024 * 1024, [this] {
        // Released at once, while its connection may still be finishing on its thread.
        receiving->Timer1->setInterval(0);
        receiving->Button2->click();
    }));
    expectTargetUntouched();
    EXPECT_EQ(a.prompts.texts(u"message"_s), QStringList{Interrupted});
    EXPECT_FALSE(b.prompts.texts(u"message"_s).contains(u"接收完毕！"_s));
}

TEST_F(TransferFailure, TargetFolderThatCannotBeWrittenEndsInterruptedOnBothSides)
{
    sending = openSendWindow();
    receiving = offer(sending, makeFile(u"a.bin"_s, 300000));
    ASSERT_TRUE(receiving);
    // A folder that is not there: nothing can be created in it, whoever runs the test.
    accept(receiving, files.file(u"gone/target.bin"_s));

    ASSERT_TRUE(released(sending));
    ASSERT_TRUE(released(receiving));
    EXPECT_EQ(b.prompts.texts(u"message"_s), QStringList{Interrupted});
    EXPECT_EQ(a.prompts.texts(u"message"_s), QStringList{Interrupted});
    EXPECT_FALSE(QFileInfo::exists(files.file(u"gone"_s)));
}

TEST_F(TransferFailure, BodyThatCannotBeStoredWholeLeavesNoPartialFile)
{
    // The disk becomes full at one megabyte.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const bool ended = sendOverExistingTarget(3 * 1024 * 1024, [&] {
        rlimit small = saved;
        small.rlim_cur = 1024 * 1024;
        setrlimit(RLIMIT_FSIZE, &small);
    });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_TRUE(ended);
    expectTargetUntouched();
    EXPECT_EQ(b.prompts.texts(u"message"_s), QStringList{Interrupted});
    EXPECT_EQ(a.prompts.texts(u"message"_s), QStringList{Interrupted});
}
