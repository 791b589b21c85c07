#include "core/Packet.h"
#include "tests/ui/Conversation.h"
#include "ui/DesktopPresence.h"
#include "ui/NotificationText.h"
#include "ui/TrayIcon.h"

#include <QDBusConnection>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QUdpSocket>

using namespace Qt::Literals::StringLiterals;

namespace {

// A and B are friends; B has its desktop presence, with a tray icon (the offscreen platform
// has no tray, but the icon and its menu work the same), an autostart entry in a folder of
// its own, and a session bus that is not there.
class DesktopPresenceTest : public Conversation {
protected:
    void SetUp() override
    {
        Conversation::SetUp();
        befriend();
        presence = std::make_unique<DesktopPresence>(*b.form1, *b.form2, true, [] { return QDBusConnection(u"none"_s); },
                                                     AutostartEntry(config.path(), u"/usr/bin/talvino"_s));
    }
    void TearDown() override { presence.reset(); }

    // A sends text to B from its message window.
    void aSays(const QString &text) { send(writeToFirstBuddy(a), text); }
    void send(TForm3 *window, const QString &text)
    {
        ASSERT_NE(window, nullptr);
        window->inpu->setPlainText(text);
        window->fs->click();
    }
    UnreadCounts &unread() const { return presence->unread; }
    // B in chat-room mode with its main window active, so that the view gets messages unseen.
    TForm5 *chatRoomInTheBackground()
    {
        b.form1->N7->trigger();
        TForm5 *view = b.form2->chatRoomView();
        if (!view || !QTest::qWaitFor([&] { return view->isActiveWindow(); }, 5000))
            return nullptr;
        b.form1->activateWindow();
        return QTest::qWaitFor([&] { return b.form1->isActiveWindow(); }, 5000) ? view : nullptr;
    }
    // The information boxes B showed about the tray.
    qsizetype trayBoxes() const { return b.prompts.texts(u"information"_s).count(DesktopPresence::trayHint()); }

    QTemporaryDir config;
    std::unique_ptr<DesktopPresence> presence;
};

} // namespace

TEST_F(DesktopPresenceTest, AnUnseenMessageIsCountedMarkedAndNotifiedOnceUntilItsWindowIsActivated)
{
    // Chat-room mode, the person in the main window: the view gets the messages unseen.
    QSignalSpy notices(&presence->attention, &MessageAttention::noticeWanted);
    TForm5 *view = chatRoomInTheBackground();
    ASSERT_NE(view, nullptr);
    aSays(u"<b>你好</b> & 再见"_s);
    ASSERT_TRUE(notices.wait(5000));
    EXPECT_EQ(notices[0][0].toString(), u"[1]阿明"_s);
    EXPECT_EQ(notices[0][1].toString(), u"<b>你好</b> & 再见"_s) << "plain text; the notifier escapes";
    EXPECT_EQ(notices[0][2].value<QWidget *>(), view);
    EXPECT_EQ(unread().count(a.ip()), 1);
    EXPECT_EQ(b.form1->userlist->item(0)->text(), u"[1]阿明 (1)"_s);
    EXPECT_TRUE(presence->tray()->toolTipText().contains(u"未读消息：1 条"_s));

    aSays(QString(70, u'长'));
    ASSERT_TRUE(notices.wait(5000));
    EXPECT_EQ(notices[1][1].toString(), QString(60, u'长') + u"…"_s);
    EXPECT_EQ(b.form1->userlist->item(0)->text(), u"[1]阿明 (2)"_s);

    // The buddy list rebuilt (a new buddy) keeps the mark; the entry reads as before.
    b.form1->buddyListChanged(b.form1->store().buddyEntries());
    EXPECT_EQ(b.form1->userlist->item(0)->text(), u"[1]阿明 (2)"_s);
    EXPECT_EQ(ContactStore::entryNumber(b.form1->userlist->item(0)->text()), u"1"_s);

    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return unread().count(a.ip()) == 0; }, 5000))
        << "activating the window that holds A's messages shows them as seen";
    EXPECT_EQ(b.form1->userlist->item(0)->text(), u"[1]阿明"_s);
    EXPECT_FALSE(presence->tray()->toolTipText().contains(u"未读"_s));
    aSays(u"再来"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->lts->toPlainText().contains(u"再来"_s); }, 5000));
    EXPECT_EQ(notices.size(), 2) << "nothing while the view is the active window";
    EXPECT_EQ(unread().total(), 0);
}

TEST_F(DesktopPresenceTest, AMessageWindowNamesItselfInTheNoticeAndClosingItClearsTheCount)
{
    QSignalSpy notices(&presence->attention, &MessageAttention::noticeWanted);
    QSignalSpy changes(&unread(), &UnreadCounts::changed);
    aSays(u"一"_s);
    TForm3 *in = waitForWindow(b);
    ASSERT_NE(in, nullptr);
    ASSERT_TRUE(notices.size() == 1 || notices.wait(5000));
    EXPECT_EQ(notices[0][2].value<QWidget *>(), in);
    ASSERT_GE(changes.size(), 1) << "counted when it arrived";
    // (The offscreen platform activates every window it shows, which counts as seen.)
    in->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return unread().total() == 0; }, 5000));

    // The notice's action opens a window that was hidden, or the main window once it is gone.
    presence->openWindow(in);
    EXPECT_TRUE(in->isVisible());
    b.form1->hide();
    presence->openWindow(nullptr);
    EXPECT_TRUE(b.form1->isVisible());
}

TEST_F(DesktopPresenceTest, WhileBusyOnlyTheCountGrowsUnlessThePersonAskedToBeToldAnyway)
{
    QSignalSpy notices(&presence->attention, &MessageAttention::noticeWanted);
    b.form1->N12->trigger(); // "工作中，请勿打扰"
    EXPECT_EQ(presence->tray()->look(), TrayIcon::Look::Busy);
    EXPECT_TRUE(presence->busyNotify->isChecked()) << "told while busy by default";
    ASSERT_NE(chatRoomInTheBackground(), nullptr);
    aSays(u"一"_s);
    ASSERT_TRUE(notices.wait(5000));

    presence->busyNotify->setChecked(false);
    aSays(u"二"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return unread().count(a.ip()) == 2; }, 5000));
    b.form1->N22->trigger(); // no longer busy
    aSays(u"三"_s);
    ASSERT_TRUE(notices.wait(5000));
    EXPECT_EQ(notices.size(), 2);
    EXPECT_EQ(notices[1][1].toString(), u"三"_s);
    EXPECT_EQ(unread().count(a.ip()), 3);
}

// B's own automatic reply, come back to B from its own address, is not news; another
// peer's automatic reply is.
TEST_F(DesktopPresenceTest, OurOwnAutomaticReplyComingBackAsksForNothing)
{
    QSignalSpy notices(&presence->attention, &MessageAttention::noticeWanted);
    QUdpSocket own;
    ASSERT_TRUE(own.bind(QHostAddress(b.ip()), 0));
    own.writeDatagram(Packet::autoReply(u"[自动回复]:休息中Zzz"_s), QHostAddress(b.ip()), 2928);
    ASSERT_NE(waitForWindow(b), nullptr) << "the reply is still shown";
    EXPECT_TRUE(notices.isEmpty());
    EXPECT_EQ(unread().total(), 0);

    a.form1->N15->trigger();
    send(writeToFirstBuddy(b), u"喂"_s);
    ASSERT_TRUE(notices.wait(5000));
    EXPECT_EQ(notices[0][1].toString(), u"[自动回复]:休息中Zzz"_s);

    EXPECT_TRUE(MessageAttention::isOwnAddress(u"127.0.0.1"_s, u"0.0.0.0"_s, {}));
    EXPECT_TRUE(MessageAttention::isOwnAddress(u"192.168.1.7"_s, u"0.0.0.0"_s, {u"192.168.1.7"_s}));
    EXPECT_FALSE(MessageAttention::isOwnAddress(u"192.168.1.8"_s, u"0.0.0.0"_s, {u"192.168.1.7"_s}));
    EXPECT_FALSE(MessageAttention::isOwnAddress(u"127.0.0.2"_s, u"127.0.0.3"_s, {}));
}

TEST_F(DesktopPresenceTest, ClosingHidesIntoTheTrayWithABoxOnlyTheFirstTimeAndQuitEnds)
{
    QSignalSpy closed(b.form1.get(), &TForm1::closed);
    b.form1->close();
    EXPECT_FALSE(b.form1->isVisible());
    EXPECT_TRUE(closed.isEmpty()) << "the program runs on in the tray";
    ASSERT_EQ(trayBoxes(), 1);
    EXPECT_EQ(b.prompts.ownerOf(DesktopPresence::trayHint()), b.form1.get());
    EXPECT_TRUE(b.dir.read(u"myinfo.ini"_s).contains("TrayHintShown=1"));

    presence->tray()->showMain->trigger();
    EXPECT_TRUE(b.form1->isVisible());
    b.form1->close();
    EXPECT_EQ(trayBoxes(), 1) << "the box is shown once";

    // Remembered from run to run: a new presence over the same file says nothing either.
    presence = std::make_unique<DesktopPresence>(*b.form1, *b.form2, true, [] { return QDBusConnection(u"none"_s); },
                                                 AutostartEntry(config.path(), u"/usr/bin/talvino"_s));
    b.form1->show();
    b.form1->close();
    EXPECT_FALSE(b.form1->isVisible());
    EXPECT_EQ(trayBoxes(), 1);

    presence->tray()->quitItem->trigger();
    EXPECT_EQ(closed.size(), 1);
}

TEST_F(DesktopPresenceTest, TheMainMenusExitEndsTheProgramEvenWithATray)
{
    QSignalSpy closed(b.form1.get(), &TForm1::closed);
    b.prompts.confirmAnswers << Prompts::Answer::Yes;
    b.form1->N21->trigger();
    EXPECT_EQ(closed.size(), 1);
    EXPECT_EQ(trayBoxes(), 0);
}

TEST_F(DesktopPresenceTest, WithoutATrayClosingEndsTheProgramAsBefore)
{
    presence = std::make_unique<DesktopPresence>(*b.form1, *b.form2, false, [] { return QDBusConnection(u"none"_s); },
                                                 AutostartEntry(config.path(), u"/usr/bin/talvino"_s));
    EXPECT_EQ(presence->tray(), nullptr);
    QSignalSpy closed(b.form1.get(), &TForm1::closed);
    b.form1->close();
    EXPECT_EQ(closed.size(), 1);
    EXPECT_EQ(trayBoxes(), 0);
}

TEST_F(DesktopPresenceTest, TheTrayMenuHoldsTheMainWindowsStatusItemsSoBothAgree)
{
    TrayIcon &tray = *presence->tray();
    const QList<QAction *> items = tray.menu->actions();
    ASSERT_TRUE(items.contains(b.form1->N18) && items.contains(b.form1->N19));
    EXPECT_TRUE(items.contains(b.form1->N11->menuAction()));
    b.form1->N19->trigger();
    EXPECT_EQ(tray.look(), TrayIcon::Look::Secure);
    const QIcon secureIcon = tray.icon->icon();
    // Chosen in the tray's menu: the main window's menu and status bar follow.
    tray.menu->actions().at(tray.menu->actions().indexOf(b.form1->N18))->trigger();
    EXPECT_TRUE(b.form1->N18->isChecked());
    EXPECT_FALSE(b.form1->N19->isChecked());
    EXPECT_EQ(b.form1->statusText(), u"一般状态"_s);
    EXPECT_EQ(tray.look(), TrayIcon::Look::Normal);
    EXPECT_NE(tray.icon->icon().pixmap(32).toImage(), secureIcon.pixmap(32).toImage()) << "the icon shows it";
    EXPECT_TRUE(tray.toolTipText().contains(u"一般状态"_s));
    b.form1->N13->trigger();
    EXPECT_TRUE(tray.toolTipText().contains(u"[自动回复]:请稍等，我马上回来"_s));
}

TEST_F(DesktopPresenceTest, TheStartAtLoginOptionWritesAndRemovesTheAutostartEntry)
{
    const QString path = config.filePath(u"autostart/talvino.desktop"_s);
    EXPECT_EQ(b.form2->PageControl1->widget(1), presence->options);
    EXPECT_FALSE(presence->autostart->isChecked());
    presence->autostart->setChecked(true);
    QFile entry(path);
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QByteArray text = entry.readAll();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nExec=/usr/bin/talvino --tray\n"));
    EXPECT_TRUE(text.contains("\nType=Application\n"));
    presence->autostart->setChecked(false);
    EXPECT_FALSE(QFile::exists(path));

    // A file where the folder must go: the error is reported and the box shows the truth.
    ASSERT_TRUE(QDir(config.filePath(u"autostart"_s)).removeRecursively());
    QFile blocker(config.filePath(u"autostart"_s));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    presence->autostart->setChecked(true);
    EXPECT_FALSE(presence->autostart->isChecked());
    ASSERT_EQ(b.reporter.errors.size(), 1);
    EXPECT_TRUE(b.reporter.errors[0].startsWith(u"Cannot create file "_s));
    b.reporter.errors.clear();
}

// Every text the person reads survives the GBK round trip, as all of the program's texts do.
TEST_F(DesktopPresenceTest, TheTabsAndTheTraysTextsAreGbkText)
{
    QStringList texts{b.form2->PageControl1->tabText(1), presence->autostart->text(), presence->busyNotify->text(),
                      presence->trayState->text(), DesktopPresence::trayHint()};
    for (QAction *item : presence->tray()->menu->actions())
        texts << item->text();
    b.form1->N12->trigger();
    presence->unread.add(a.ip());
    texts << presence->tray()->toolTipText();
    for (const QString &text : texts)
        EXPECT_EQ(Gbk::decode(Gbk::encode(text)), text) << text.toStdString();
}

TEST(AutostartEntryTest, ExecQuotesAndEscapesAProgramPathAsTheDesktopEntryFormatWants)
{
    EXPECT_EQ(AutostartEntry::execArgument(u"/usr/bin/talvino"_s), u"/usr/bin/talvino"_s);
    EXPECT_EQ(AutostartEntry::execArgument(u"/home/我/my apps/talvino"_s), u"\"/home/我/my apps/talvino\""_s);
    // In the quotes "$" and "\" take a backslash; the string value then doubles every backslash.
    EXPECT_EQ(AutostartEntry::execArgument(u"/opt/a$b\\c/talvino"_s), u"\"/opt/a\\\\$b\\\\\\\\c/talvino\""_s);
    EXPECT_EQ(AutostartEntry::execArgument(u"/opt/100%/talvino"_s), u"/opt/100%%/talvino"_s);
}

TEST(NotificationTextTest, TheBodyIsTheFirstSixtyCharactersAsPlainLines)
{
    using NotificationText::excerpt;
    EXPECT_EQ(excerpt(QString(60, u'字')), QString(60, u'字')) << "exactly 60: nothing cut";
    EXPECT_EQ(excerpt(QString(61, u'a')), QString(60, u'a') + u"…"_s);
    EXPECT_EQ(excerpt(u"一\r\n二\r三\n四"_s), u"一\n二\n三\n四"_s);
    EXPECT_EQ(excerpt(u"a\x01" u"b\tc\x7f"_s), u"a b c "_s);
    // A character outside the basic plane counts once and is never split.
    const QString face = QString::fromUcs4(U"\U0001F600");
    EXPECT_EQ(excerpt(QString(59, u'x') + face + u"y"_s), QString(59, u'x') + face + u"…"_s);
    EXPECT_EQ(excerpt(u"x"_s + QChar(0xD800) + u"y"_s), u"x y"_s) << "a lone surrogate is no character";
}

TEST(NotificationTextTest, MarkupCharactersBecomeEntities)
{
    EXPECT_EQ(NotificationText::escapeMarkup(u"<b>粗</b> & <a href='x'>"_s),
              u"&lt;b&gt;粗&lt;/b&gt; &amp; &lt;a href='x'&gt;"_s);
    EXPECT_EQ(NotificationText::escapeMarkup(u"&amp;"_s), u"&amp;amp;"_s);
}

TEST(UnreadCountsTest, CountsPerHostAreBoundedAndTheBadgeStopsAtNinetyNinePlus)
{
    UnreadCounts counts;
    QSignalSpy changed(&counts, &UnreadCounts::changed);
    counts.setMaxHosts(2);
    counts.add(u"10.0.0.1"_s);
    counts.add(u"10.0.0.1"_s);
    counts.add(u"10.0.0.2"_s);
    counts.add(u"10.0.0.3"_s); // past the bound: not counted
    EXPECT_EQ(counts.count(u"10.0.0.1"_s), 2);
    EXPECT_EQ(counts.count(u"10.0.0.3"_s), 0);
    EXPECT_EQ(counts.total(), 3);
    EXPECT_EQ(changed.size(), 3);
    counts.clear(u"10.0.0.1"_s);
    counts.clear(u"10.0.0.9"_s);
    EXPECT_EQ(counts.total(), 1);
    EXPECT_EQ(changed.size(), 4);
    counts.add(u"10.0.0.3"_s);
    EXPECT_EQ(counts.count(u"10.0.0.3"_s), 1) << "a cleared host makes room";
    for (int i = 0; i < UnreadCounts::MaxCount + 5; ++i)
        counts.add(u"10.0.0.2"_s);
    EXPECT_EQ(counts.count(u"10.0.0.2"_s), UnreadCounts::MaxCount);
    EXPECT_EQ(UnreadCounts::badge(0), QString());
    EXPECT_EQ(UnreadCounts::badge(99), u"99"_s);
    EXPECT_EQ(UnreadCounts::badge(100), u"99+"_s);
}

// The bus is opened by the first notice and only once; without one each notice is dropped at once.
TEST(DesktopNotifierTest, WithoutASessionBusANoticeIsDroppedAtOnce)
{
    int opened = 0;
    DesktopNotifier notifier([&opened] {
        ++opened;
        return QDBusConnection(u"none"_s);
    });
    EXPECT_EQ(opened, 0) << "a program that never notifies never connects";
    QSignalSpy failed(&notifier, &DesktopNotifier::failed);
    QSignalSpy shown(&notifier, &DesktopNotifier::shown);
    notifier.notify(u"小明"_s, u"你好"_s, nullptr);
    notifier.notify(u"小明"_s, u"再见"_s, nullptr);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(failed.size(), 2);
    EXPECT_EQ(notifier.pendingCalls(), 0);
    EXPECT_TRUE(shown.isEmpty());
}
