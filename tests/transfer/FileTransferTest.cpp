#include "tests/transfer/TwoPeers.h"

namespace {

using FileTransfer = TwoPeers;

} // namespace

TEST_F(FileTransfer, FileWithANoteArrivesWholeWithProgressOnBothSides)
{
    const qint64 size = 5 * 1024 * 1024;
    const QString source = makeFile(u"照片.jpg"_s, size);
    const QString target = files.file(u"收到的照片.jpg"_s);

    QPointer<TForm6> sending = openSendWindow();
    ASSERT_TRUE(sending);
    EXPECT_EQ(sending->windowTitle(), u"发送文件"_s);
    EXPECT_EQ(sending->ztPanel0->text(), u"To:127.0.0.3"_s);
    EXPECT_EQ(a.form1->Tag, 1);

    QPointer<TForm7> receiving = offer(sending, source, u"给你的照片"_s);
    ASSERT_TRUE(receiving);
    EXPECT_EQ(receiving->windowTitle(), u"接收文件"_s);
    EXPECT_EQ(receiving->fsm->text(), u"5242880Byte 照片.jpg [备注：给你的照片]"_s);
    EXPECT_EQ(receiving->jsjd->maximum(), size);
    EXPECT_EQ(receiving->ztPanel0->text(), u"From:127.0.0.2"_s);
    EXPECT_EQ(b.form1->Tag, 1);
    EXPECT_FALSE(sending->Button1->isEnabled());

    // While the body goes out, A's progress packets reach B's window.
    bool progressShown = false;
    QString sentText;
    duringBody(sending, [&] {
        progressShown = QTest::qWaitFor(
            [&] { return receiving && receiving->ztPanel1->text() == u"正在接收数据"_s; }, Wait);
        sentText = sending->ztPanel0->text();
        if (progressShown) {
            EXPECT_GT(receiving->jsjd->value(), 0);
            EXPECT_TRUE(receiving->ztPanel0->text().startsWith(u"已接收："_s));
            EXPECT_TRUE(receiving->ztPanel0->text().endsWith(u"Byte  共：5242880Byte"_s));
        }
    });
    accept(receiving, target);
    EXPECT_EQ(b.prompts.texts(u"save"_s).size(), 1);

    ASSERT_TRUE(released(sending));
    ASSERT_TRUE(released(receiving));
    EXPECT_TRUE(progressShown);
    EXPECT_TRUE(sentText.startsWith(u"已发送："_s)) << qPrintable(sentText);
    EXPECT_EQ(files.read(u"收到的照片.jpg"_s), files.read(u"照片.jpg"_s));
    EXPECT_EQ(a.prompts.texts(u"message"_s), QStringList{u"发送完毕！"_s});
    EXPECT_EQ(b.prompts.texts(u"message"_s), QStringList{u"接收完毕！"_s});
    EXPECT_TRUE(a.reporter.errors.isEmpty()) << qPrintable(a.reporter.errors.join(u'\n'));
    EXPECT_TRUE(b.reporter.errors.isEmpty()) << qPrintable(b.reporter.errors.join(u'\n'));
    EXPECT_EQ(a.form1->Tag, 0);
    EXPECT_EQ(b.form1->Tag, 0);
    // Nothing else is left beside the target: the body's temporary file became the target.
    EXPECT_EQ(filesThere(files.path()), (QStringList{u"收到的照片.jpg"_s, u"照片.jpg"_s}));
}

TEST_F(FileTransfer, EmptyFileGoesToReceivedTmpInTheCurrentFolderWhenNoNameIsChosen)
{
    const QString source = makeFile(u"empty.txt"_s, 0);
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(b.dir.path()));

    QPointer<TForm6> sending = openSendWindow();
    QPointer<TForm7> receiving = offer(sending, source);
    ASSERT_TRUE(receiving);
    EXPECT_EQ(receiving->fsm->text(), u"0Byte empty.txt [备注：]"_s);
    sending->Timer1->setInterval(60000);
    receiving->Timer1->setInterval(60000);
    accept(receiving, QString());
    const bool ended = QTest::qWaitFor(
        [&] { return a.prompts.texts(u"message"_s).size() + b.prompts.texts(u"message"_s).size() == 2; },
        Wait);
    QDir::setCurrent(previous);
    ASSERT_TRUE(ended);

    EXPECT_EQ(receiving->sd, u"received.tmp"_s);
    EXPECT_EQ(a.prompts.texts(u"message"_s), QStringList{u"发送完毕！"_s});
    EXPECT_EQ(b.prompts.texts(u"message"_s), QStringList{u"接收完毕！"_s});
    const QFileInfo received(b.dir.file(u"received.tmp"_s));
    EXPECT_TRUE(received.exists());
    EXPECT_EQ(received.size(), 0);
    // Only the header went out: no progress on either side.
    EXPECT_EQ(sending->ztPanel0->text(), u"To:127.0.0.3"_s);
    EXPECT_EQ(sending->fsjd->value(), 0);
    EXPECT_NE(receiving->ztPanel1->text(), u"正在接收数据"_s);
    EXPECT_FALSE(sending->isVisible());
    EXPECT_FALSE(receiving->isVisible());
    sending->Timer1->setInterval(10);
    receiving->Timer1->setInterval(10);
    EXPECT_TRUE(released(sending));
    EXPECT_TRUE(released(receiving));
}

TEST_F(FileTransfer, ExistingTargetIsReplacedAndKeepsItsPermissions)
{
    const QString source = makeFile(u"new.bin"_s, 70000, 1);
    const QString target = makeFile(u"old.bin"_s, 200000, 2);
    const auto permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
        | QFileDevice::WriteUser;
    ASSERT_TRUE(QFile::setPermissions(target, permissions));

    QPointer<TForm6> sending = openSendWindow();
    QPointer<TForm7> receiving = offer(sending, source);
    ASSERT_TRUE(receiving);
    accept(receiving, target);
    ASSERT_TRUE(released(receiving));
    EXPECT_EQ(b.prompts.texts(u"message"_s), QStringList{u"接收完毕！"_s});
    EXPECT_EQ(files.read(u"old.bin"_s), files.read(u"new.bin"_s));
    EXPECT_EQ(QFile::permissions(target), permissions);
    EXPECT_TRUE(released(sending));
}
