#include "tests/transfer/TwoPeers.h"

namespace {

using DownloadFolder = TwoPeers;

} // namespace

// An installed copy offers its download folder in the save dialog, and a file whose name the
// user did not choose lands there as received.tmp instead of in the current folder.
TEST_F(DownloadFolder, TheSaveDialogOpensThereAndAnUnnamedFileIsWrittenThere)
{
    const QString downloads = files.file(u"下载"_s);
    ASSERT_TRUE(QDir().mkpath(downloads));
    b.context.downloadDir = downloads;
    const QString source = makeFile(u"a.bin"_s, 4096);
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(b.dir.path()));

    QPointer<TForm6> sending = openSendWindow();
    QPointer<TForm7> receiving = offer(sending, source);
    ASSERT_TRUE(receiving);
    accept(receiving, QString());
    const bool ended = QTest::qWaitFor([&] { return b.prompts.texts(u"message"_s).size() == 1; }, Wait);
    QDir::setCurrent(previous);
    ASSERT_TRUE(ended);

    EXPECT_EQ(b.prompts.texts(u"save"_s), QStringList{downloads});
    EXPECT_EQ(b.prompts.texts(u"message"_s), QStringList{u"接收完毕！"_s});
    EXPECT_EQ(QDir(downloads).entryList(QDir::Files), QStringList{u"received.tmp"_s});
    EXPECT_EQ(files.read(u"下载/received.tmp"_s), files.read(u"a.bin"_s));
    EXPECT_FALSE(QFile::exists(b.dir.file(u"received.tmp"_s))) << "nothing in the current folder";
    EXPECT_TRUE(released(sending));
    EXPECT_TRUE(released(receiving));
}
