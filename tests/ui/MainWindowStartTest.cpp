#include "core/Gbk.h"
#include "net/TZnUDP.h"
#include "tests/support/RawUdpPeer.h"
#include "tests/support/TestPeer.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A folder whose myinfo.ini can be read but never replaced, whoever runs the test (file
// permissions would not stop root): the file's path just fits the system's path limit, so
// the temporary file that each change is written to beside it cannot be created.
QString folderAtThePathLimit(const QString &base)
{
    const int limit = 4095 - int(sizeof "/myinfo.ini") + 1;
    QString path = base;
    while (path.size() < limit) {
        const int room = limit - int(path.size()) - 1;
        path += u'/' + QString(qMin(room, 200), u'd');
    }
    QDir().mkpath(path);
    return path;
}

QStringList captions(const QMenu *menu)
{
    QStringList result;
    for (const QAction *action : menu->actions())
        result << (action->isSeparator() ? u"-"_s : action->text());
    return result;
}

} // namespace

TEST(MainWindowStart, FirstStartAsksForANicknameAndShowsTheSettings)
{
    TestPeer peer;
    peer.start();
    EXPECT_EQ(peer.prompts.texts(u"information"_s), QStringList{u"第一次使用本程序,请先为自己起一个昵称!"_s});
    EXPECT_TRUE(peer.form2->isVisible());
    EXPECT_TRUE(peer.form2->myname->text().isEmpty());
    EXPECT_EQ(peer.form1->statusText(), u"安全状态"_s);
    EXPECT_TRUE(peer.form1->N19->isChecked());
    EXPECT_FALSE(peer.form1->N18->isChecked());
    EXPECT_EQ(peer.form1->windowTitle(), u"Talvino"_s);
    EXPECT_TRUE(peer.reporter.errors.isEmpty());
}

TEST(MainWindowStart, StoredNicknameGoesIntoTheNameBoxAndLastRunsListsAreErased)
{
    TestPeer peer;
    peer.dir.write(u"myinfo.ini"_s,
                   "[MainSection]\r\nName=" + Gbk::encode(u"小明"_s)
                       + "\r\n[UserSection]\r\nCount=1\r\n1=[1]x\r\n[IpSection]\r\n1=10.0.0.1\r\n"
                         "[BanSection]\r\nCount=1\r\n1=10.0.0.9\r\n");
    peer.start();
    EXPECT_TRUE(peer.prompts.shown.isEmpty());
    EXPECT_FALSE(peer.form2->isVisible());
    EXPECT_EQ(peer.form2->myname->text(), u"小明"_s);
    EXPECT_EQ(peer.form1->ownNickname(), u"小明"_s);
    EXPECT_EQ(peer.form1->userlist->count(), 0);
    const QByteArray ini = peer.dir.read(u"myinfo.ini"_s);
    EXPECT_TRUE(ini.contains(Gbk::encode(u"小明"_s)));
    EXPECT_FALSE(ini.contains("UserSection"));
    EXPECT_FALSE(ini.contains("IpSection"));
    EXPECT_FALSE(ini.contains("BanSection"));
}

TEST(MainWindowStart, UnwritableContactStoreStopsTheStartUp)
{
    TempDir base;
    const QString folder = folderAtThePathLimit(base.path());
    ASSERT_EQ(QString(folder + u"/myinfo.ini"_s).size(), 4095);
    TestPeer peer(u"127.0.0.2"_s, folder);
    peer.storeNickname(u"小明"_s);
    QFile ini(folder + u"/myinfo.ini"_s);
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("[UserSection]\r\nCount=1\r\n");
    ini.close();

    peer.start();
    ASSERT_EQ(peer.reporter.errors.size(), 1);
    EXPECT_EQ(peer.reporter.errors.first(), u"Unable to write to "_s + ini.fileName());
    EXPECT_TRUE(peer.prompts.shown.isEmpty());
    EXPECT_TRUE(peer.form2->myname->text().isEmpty());
    EXPECT_TRUE(peer.form1->statusText().isEmpty());
    EXPECT_FALSE(peer.form1->N19->isChecked());
}

TEST(MainWindowStart, TakenPortIsReportedAndSendingStillWorks)
{
    RawUdpPeer squatter(u"127.0.0.2"_s);
    ASSERT_TRUE(squatter.isBound());
    TestPeer peer;
    peer.storeNickname(u"小明"_s);
    EXPECT_FALSE(peer.form1->receiving());
    peer.start();
    ASSERT_EQ(peer.prompts.texts(u"information"_s).size(), 1);
    EXPECT_TRUE(peer.prompts.texts(u"information"_s).first().contains(u"2928"_s));
    EXPECT_EQ(peer.form1->statusText(), u"安全状态"_s);

    RawUdpPeer other(u"127.0.0.3"_s);
    peer.endpoint().RemoteHost = other.address();
    peer.endpoint().SendDatagram("1hi", 3);
    ASSERT_TRUE(other.waitForDatagrams(1));
    EXPECT_EQ(other.received.first(), QByteArray("1hi"));
}

TEST(MainWindowStart, BoundPortNeedsNoBox)
{
    TestPeer peer;
    peer.storeNickname(u"a"_s);
    EXPECT_TRUE(peer.form1->receiving());
    EXPECT_EQ(peer.form1->lwudp->BoundPort(), 2928);
    peer.start();
    EXPECT_TRUE(peer.prompts.shown.isEmpty());
}

TEST(MainWindowStart, LayoutAndMenus)
{
    TestPeer peer;
    TForm1 &w = *peer.form1;
    EXPECT_EQ(w.windowTitle(), u"Talvino"_s);
    EXPECT_EQ(w.minimumWidth(), 150);
    EXPECT_EQ(w.maximumWidth(), 150);
    EXPECT_EQ(w.minimumHeight(), 278);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w.font().pixelSize(), 12);
    EXPECT_EQ(w.font().families().first(), u"宋体"_s);
    EXPECT_EQ(w.userlist->palette().color(QPalette::Base), QColor(231, 242, 185));
    EXPECT_EQ(w.userlist->selectionMode(), QAbstractItemView::SingleSelection);

    EXPECT_EQ(captions(w.ulmenu),
              (QStringList{u"发送消息"_s, u"传送文件"_s, u"-"_s, u"语音聊天"_s, u"-"_s, u"添加好友"_s,
                           u"删除好友"_s, u"-"_s, u"聊天模式"_s, u"安全码…"_s, u"删除与此好友的记录"_s}));
    EXPECT_EQ(captions(w.statusMenu), (QStringList{u"一般状态"_s, u"安全状态"_s, u"-"_s, u"退出"_s}));
    EXPECT_EQ(captions(w.settingsMenu),
              (QStringList{u"自动回复"_s, u"设置面板"_s, u"为什么看不到？"_s, u"查找聊天记录…"_s}));
    EXPECT_EQ(captions(w.N11),
              (QStringList{u"工作中，请勿打扰"_s, u"请稍等，我马上回来"_s, u"我去吃东西了"_s, u"休息中Zzz"_s,
                           u"-"_s, u"自定义自动回复"_s, u"-"_s, u"取消自动回复"_s}));
    const QList<QAction *> top = w.menuBar()->actions();
    ASSERT_EQ(top.size(), 2);
    EXPECT_EQ(top[0]->text(), u"状态"_s);
    EXPECT_EQ(top[1]->text(), u"系统设置"_s);
    EXPECT_FALSE(w.N22->isCheckable());

    w.show();
    w.buddyListChanged({u"[1]小明"_s});
    // The list lays its items out once the event loop runs.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return w.userlist->visualItemRect(w.userlist->item(0)).height() == 12; }));
    EXPECT_EQ(w.width(), 150);
    EXPECT_GE(w.height(), 278);
}

TEST(MainWindowStart, ExitAsksFirstAndClosingEndsTheProgram)
{
    TestPeer peer;
    peer.storeNickname(u"a"_s);
    peer.start();
    int closed = 0;
    QObject::connect(peer.form1.get(), &TForm1::closed, [&] { ++closed; });
    peer.prompts.confirmAnswers << Prompts::Answer::No << Prompts::Answer::Yes;
    peer.form1->N21->trigger();
    EXPECT_EQ(peer.prompts.texts(u"confirm"_s), QStringList{u"真的退出么？"_s});
    EXPECT_TRUE(peer.form1->isVisible());
    EXPECT_EQ(closed, 0);
    peer.form1->N21->trigger();
    EXPECT_FALSE(peer.form1->isVisible());
    EXPECT_EQ(closed, 1);
}
