#include "tests/transfer/TwoPeers.h"

#include <csignal>
#include <sys/resource.h>

namespace {

using TransferFailure = TwoPeers;

const QString Interrupted = u"连接已中断"_s;

// What is in the target's folder after a failure: the target as it was and nothing else.
void expectUntouched(const TempDir &files, const QString &name, const QByteArray &before)
{
    EXPECT_EQ(files.read(name), before);
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files | QDir::Hidden).filter(u".part"_s), QStringList());
}

} // namespace

TEST_F(TransferFailure, RefusingSendsNothingAndTheSenderWaitsUntilCancelled)
{
    QPointer<TForm6> sending = openSendWindow();
    QPointer<TForm7> receiving = offer(sending, makeFile(u"a.bin"_s, 1000));
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
    const QByteArray before = "the file the user had";
    files.write(u"target.bin"_s, before);
    QPointer<TForm6> sending = openSendWindow();
    QPointer<TForm7> receiving = offer(sending, makeFile(u"a.bin"_s, 5 * 1024 * 1024));
    ASSERT_TRUE(receiving);
    duringBody(sending, [&] {
        ASSERT_TRUE(QTest::qWaitFor([&] { return receiving->jsd->ConnectionCount() == 1; }, Wait));
        sending->Button2->click();
    });
    accept(receiving, files.file(u"target.bin"_s));

    ASSERT_TRUE(released(sending));
    ASSERT_TRUE(released(receiving));
    expectUntouched(files, u"target.bin"_s, before);
    // The abort closes the connection twice, each time with the same end message.
    EXPECT_EQ(a.prompts.texts(u"message"_s), (QStringList{Interrupted, Interrupted}));
    EXPECT_EQ(a.reporter.errors, QStringList{u"Socket send aborted"_s});
    EXPECT_EQ(b.prompts.texts(u"message"_s), QStringList{Interrupted});
    EXPECT_EQ(a.form1->Tag, 0);
    EXPECT_EQ(b.form1->Tag, 0);
}

TEST_F(TransferFailure, ReceiverClosingDuringTheBodyGetsNoFileAndTheSenderNoSuccess)
{
    const QByteArray before = "the file the user had";
    files.write(u"target.bin"_s, before);
    QPointer<TForm6> sending = openSendWindow();
    QPointer<TForm7> receiving = offer(sending, makeFile(u"a.bin"_s, 5 * 1024 * 1024));
    ASSERT_TRUE(receiving);
    // Released at once, while its connection may still be finishing on its thread.
    receiving->Timer1->setInterval(0);
    duringBody(sending, [&] {
        ASSERT_TRUE(QTest::qWaitFor([&] { return receiving->jsd->ConnectionCount() == 1; }, Wait));
        receiving->Button2->click();
    });
    accept(receiving, files.file(u"target.bin"_s));

    ASSERT_TRUE(released(sending));
    ASSERT_TRUE(released(receiving));
    expectUntouched(files, u"target.bin"_s, before);
    EXPECT_EQ(a.prompts.texts(u"message"_s), QStringList{Interrupted});
    EXPECT_FALSE(b.prompts.texts(u"message"_s).contains(u"接收完毕！"_s));
}

TEST_F(TransferFailure, TargetFolderThatCannotBeWrittenEndsInterruptedOnBothSides)
{
    QPointer<TForm6> sending = openSendWindow();
    QPointer<TForm7> receiving = offer(sending, makeFile(u"a.bin"_s, 300000));
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
    const QByteArray before = "the file the user had";
    files.write(u"target.bin"_s, before);
    QPointer<TForm6> sending = openSendWindow();
    QPointer<TForm7> receiving = offer(sending, makeFile(u"a.bin"_s, 3 * 1024 * 1024));
    ASSERT_TRUE(receiving);
    // A full disk after the first megabyte.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    accept(receiving, files.file(u"target.bin"_s));
    const bool ended = released(sending) && released(receiving);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_TRUE(ended);
    expectUntouched(files, u"target.bin"_s, before);
    EXPECT_EQ(b.prompts.texts(u"message"_s), QStringList{Interrupted});
    EXPECT_EQ(a.prompts.texts(u"message"_s), QStringList{Interrupted});
}
