// Every window by the keyboard alone: Tab reaches each control once, in reading order; the
// buddy lists' menus open from the Menu key and Shift+F10, Enter on an item does what a
// double-click does, F10 opens the menu bar, and Escape closes the windows that act as dialog
// boxes without dropping what the person typed unasked.
#include "fileset/SetDatagrams.h"
#include "harness/FakeMediaPlayer.h"
#include "tests/a11y/FriendsWindows.h"
#include "tests/a11y/TabStops.h"
#include "tests/support/Waits.h"
#include "tests/ui/Conversation.h"
#include "tests/ui/NearbyPair.h"
#include "transfer/SetReceiveWindow.h"
#include "transfer/SetSendWindow.h"
#include "transfer/TForm6.h"
#include "transfer/TForm7.h"
#include "transfer/TransferWindows.h"
#include "ui/HistorySearchWindow.h"
#include "ui/NearbyList.h"
#include "ui/PresenceWhy.h"
#include "ui/QtPrompts.h"
#include "ui/SafetyCodeDialog.h"

#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QTimer>

#include <functional>

using namespace Qt::Literals::StringLiterals;

namespace {

std::string names(const QList<QWidget *> &controls)
{
    QStringList list;
    for (const QWidget *control : controls)
        list << TabStops::describe(control);
    return list.join(u"\n  "_s).toStdString();
}

bool activate(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

} // namespace

class Keyboard : public FriendsWindows {
protected:
    // A third peer, C (阿青), near A and no friend of A's: it is in A's nearby list.
    void nearbyPeer()
    {
        neighbour = std::make_unique<TestPeer>(u"127.0.0.4"_s);
        neighbour->storeNickname(u"阿青"_s);
        neighbour->start();
        linkPresence(a, neighbour->ip());
        linkPresence(*neighbour, a.ip());
    }
    SetReceiveWindow *setOffer()
    {
        auto *window = new SetReceiveWindow(links());
        Manifest manifest;
        manifest.entries << ManifestEntry{ManifestEntry::Kind::File, u"照片.jpg"_s, 10, 0};
        window->setOffer(SetOffer::describe(newSetId(), manifest, u"假期"_s), b.ip(), QByteArray(32, 'k'));
        window->show();
        return window;
    }

    std::unique_ptr<TestPeer> neighbour;
};

// Tab goes through every control that can take the focus, once each, in the order they are
// read, and comes back to the first.
TEST_F(Keyboard, TabVisitsEveryControlOnceInReadingOrder)
{
    struct Case {
        std::string what;
        std::function<QWidget *()> open;
    };
    const QList<Case> cases{
        {"main window", [&] { return static_cast<QWidget *>(a.form1.get()); }},
        {"settings, page 1", [&] { return settingsPage(0); }},
        {"settings, page 2", [&] { return settingsPage(1); }},
        {"settings, page 3", [&] { return settingsPage(2); }},
        {"settings, page 4", [&] { return settingsPage(3); }},
        {"settings, page 5", [&] { return settingsPage(4); }},
        {"message window",
         [&] {
             a.form2->hide();
             return writeToFirstBuddy(a);
         }},
        {"message window with its history",
         [&] {
             TForm3 *window = writeToFirstBuddy(a);
             window->Button1->click();
             return window;
         }},
        {"add friend",
         [&] {
             a.form1->N9->trigger();
             return a.form1->addFriendDialog();
         }},
        {"chat room",
         [&] {
             a.form1->N7->trigger();
             return a.form1->chatRoomView();
         }},
        {"send file",
         [&] {
             a.files->openSendFileWindow(b.ip());
             return a.files->sendWindow();
         }},
        {"file offer",
         [&] {
             a.files->openReceiveFileWindow(123, u"报告.txt 123Byte  [备注：给你]"_s, b.ip());
             return a.files->receiveWindow();
         }},
        {"set send",
         [&] {
             auto *window = new SetSendWindow(links(), b.ip(), QByteArray(32, 'k'), NameEncoding::Utf8);
             window->show();
             return window;
         }},
        {"set offer", [&] { return setOffer(); }},
        {"history search",
         [&] {
             a.form1->findHistory->trigger();
             return a.form1->historySearch();
         }},
        {"why nobody is near",
         [&] {
             a.form1->why->trigger();
             return a.form1->findChild<PresenceWhy *>();
         }},
        {"safety code",
         [&] {
             auto *window = new SafetyCodeDialog(a.form1->security(), b.ip(), u"阿红"_s, a.form1.get());
             window->setAttribute(Qt::WA_DeleteOnClose);
             return window;
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QWidget *window = c.open();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(activate(window));
        const QList<QWidget *> order = TabStops::inReadingOrder(TabStops::of(window));
        ASSERT_FALSE(order.isEmpty());
        QList<QWidget *> expected = order.mid(1);
        expected << order.first();
        const QList<QWidget *> visited = TabStops::walk(window, order);
        EXPECT_TRUE(visited == expected)
            << "visited:\n  " << names(visited) << "\nin reading order:\n  " << names(order);
        if (window != a.form1.get() && window != a.form2.get())
            window->close();
    }
}

// The Menu key and Shift+F10 open a list's context menu, as a right-click does.
TEST_F(Keyboard, ListMenusOpenFromTheKeyboard)
{
    nearbyPeer();
    ASSERT_EVENTUALLY(a.form1->nearbylist->count() == 1);
    struct Case {
        std::string what;
        QListWidget *list;
        QMenu *menu;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    };
    const QList<Case> cases{
        {"buddies, Menu", a.form1->userlist, a.form1->ulmenu, Qt::Key_Menu, Qt::NoModifier},
        {"buddies, Shift+F10", a.form1->userlist, a.form1->ulmenu, Qt::Key_F10, Qt::ShiftModifier},
        {"nearby, Menu", a.form1->nearbylist, a.form1->nearbylist->menu, Qt::Key_Menu, Qt::NoModifier},
        {"nearby, Shift+F10", a.form1->nearbylist, a.form1->nearbylist->menu, Qt::Key_F10, Qt::ShiftModifier},
    };
    ASSERT_TRUE(activate(a.form1.get()));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        c.list->setFocus();
        c.list->setCurrentRow(0);
        QTest::keyClick(c.list, c.key, c.modifiers);
        EXPECT_EVENTUALLY(c.menu->isVisible());
        // At the current item, which is now the selected one the menu's commands act on.
        EXPECT_TRUE(c.list->visualItemRect(c.list->item(0))
                        .contains(c.list->viewport()->mapFromGlobal(c.menu->pos())));
        EXPECT_TRUE(c.list->item(0)->isSelected());
        c.menu->close();
        ASSERT_EVENTUALLY(!c.menu->isVisible());
    }
}

// Enter on an item does what a double-click does: a buddy's message window opens, a nearby
// peer is asked for friendship, a file of the playlist plays.
TEST_F(Keyboard, EnterOnAnItemDoesWhatADoubleClickDoes)
{
    nearbyPeer();
    ASSERT_EVENTUALLY(a.form1->nearbylist->count() == 1);
    a.form2->mlist->addItem(u"/music/海边.mp3"_s);
    struct Case {
        std::string what;
        QListWidget *list;
        std::function<bool()> done;
        std::function<void()> undo;
    };
    const QList<Case> cases{
        {"buddy", a.form1->userlist,
         [&] { return !openWindows(a).isEmpty() && openWindows(a).last()->ip->text() == b.ip(); },
         [&] {
             if (!openWindows(a).isEmpty())
                 openWindows(a).last()->close();
         }},
        {"nearby peer", a.form1->nearbylist,
         [&] {
             return a.form1->addFriendDialog() && a.form1->addFriendDialog()->dfip->text() == neighbour->ip();
         },
         [&] {
             if (TForm4 *dialog = a.form1->addFriendDialog())
                 dialog->close();
         }},
        {"playlist file", a.form2->mlist,
         [&] { return a.player->playing && a.player->opened == QStringList{u"/music/海边.mp3"_s}; },
         [&] {
             a.player->stop();
             a.player->opened.clear();
         }},
    };
    for (const Case &c : cases) {
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
            SCOPED_TRACE(c.what + (key == Qt::Key_Return ? ", Return" : ", Enter"));
            ASSERT_TRUE(activate(c.list->window()));
            c.list->setFocus();
            c.list->setCurrentRow(0);
            QTest::keyClick(c.list, key);
            EXPECT_EVENTUALLY(c.done());
            c.undo();
        }
    }
}

// F10 opens the main window's menu bar at its first menu.
TEST_F(Keyboard, F10OpensTheMenuBar)
{
    ASSERT_TRUE(activate(a.form1.get()));
    a.form1->userlist->setFocus();
    QTest::keyClick(a.form1->userlist, Qt::Key_F10);
    EXPECT_EVENTUALLY(a.form1->statusMenu->isVisible());
    EXPECT_EQ(a.form1->menuBar()->activeAction(), a.form1->statusMenu->menuAction());
    a.form1->statusMenu->close();
}

// Escape closes a window that acts as a dialog box. Where that would drop text typed and not
// sent, it asks first, and a No keeps the window with the text; while a transfer runs it does
// nothing. The settings window only hides, keeping everything.
TEST_F(Keyboard, EscapeClosesDialogsButKeepsWhatWasTyped)
{
    struct Case {
        std::string what;
        std::function<QWidget *()> open;
        std::function<QLineEdit *(QWidget *)> typeInto; // null: nothing typed
        QList<Prompts::Answer> answers;
        bool asks;
        bool staysOpen;
    };
    const auto addFriend = [&] {
        a.form1->N9->trigger();
        return static_cast<QWidget *>(a.form1->addFriendDialog());
    };
    const auto sendFile = [&] {
        a.files->openSendFileWindow(b.ip());
        return static_cast<QWidget *>(a.files->sendWindow());
    };
    const auto dfip = [](QWidget *w) { return static_cast<TForm4 *>(w)->dfip; };
    const auto note = [](QWidget *w) { return static_cast<TForm6 *>(w)->fsm; };
    const auto No = Prompts::Answer::No;
    const auto Yes = Prompts::Answer::Yes;
    const QList<Case> cases{
        {"settings", [&] { return settingsPage(0); }, nullptr, {}, false, false},
        {"add friend, nothing typed", addFriend, nullptr, {}, false, false},
        {"add friend, address typed, kept", addFriend, dfip, {No}, true, true},
        {"add friend, address typed, dropped", addFriend, dfip, {Yes}, true, false},
        {"message window, nothing typed",
         [&] { return static_cast<QWidget *>(writeToFirstBuddy(a)); },
         nullptr,
         {},
         false,
         false},
        {"send file, nothing typed", sendFile, nullptr, {}, false, false},
        {"send file, note typed, kept", sendFile, note, {No}, true, true},
        {"file offer (refused)",
         [&] {
             a.files->openReceiveFileWindow(123, u"报告.txt 123Byte  [备注：给你]"_s, b.ip());
             return static_cast<QWidget *>(a.files->receiveWindow());
         },
         nullptr,
         {},
         false,
         false},
        {"set offer (refused)",
         [&] { return static_cast<QWidget *>(setOffer()); },
         nullptr,
         {},
         false,
         false},
        {"history search",
         [&] {
             a.form1->findHistory->trigger();
             return static_cast<QWidget *>(a.form1->historySearch());
         },
         nullptr,
         {},
         false,
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QWidget *window = c.open();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(activate(window));
        QLineEdit *edit = c.typeInto ? c.typeInto(window) : nullptr;
        if (edit) {
            edit->setFocus();
            QTest::keyClicks(edit, u"127.0.0.9"_s);
        }
        a.prompts.confirmAnswers = c.answers;
        const qsizetype asked = a.prompts.texts(u"confirm"_s).size();
        QWidget *focused = QApplication::focusWidget();
        QTest::keyClick(focused && focused->window() == window ? focused : window, Qt::Key_Escape);
        EXPECT_EQ(a.prompts.texts(u"confirm"_s).size() - asked, c.asks ? 1 : 0);
        EXPECT_EVENTUALLY(window->isVisible() == c.staysOpen);
        if (edit && c.staysOpen) {
            EXPECT_EQ(edit->text(), u"127.0.0.9"_s);
        }
        if (c.staysOpen)
            window->close();
    }
}

// The message window's typed message: Escape asks, and No keeps the window with the message.
TEST_F(Keyboard, EscapeInAMessageWindowKeepsATypedMessageUnlessDropped)
{
    for (const Prompts::Answer answer : {Prompts::Answer::No, Prompts::Answer::Yes}) {
        TForm3 *window = writeToFirstBuddy(a);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(activate(window));
        window->inpu->setFocus();
        QTest::keyClicks(window->inpu, u"see you"_s);
        a.prompts.confirmAnswers = {answer};
        QTest::keyClick(window->inpu, Qt::Key_Escape);
        ASSERT_EQ(a.prompts.texts(u"confirm"_s).size(), answer == Prompts::Answer::No ? 1 : 2);
        const bool kept = answer == Prompts::Answer::No;
        EXPECT_EVENTUALLY(window->isVisible() == kept);
        if (kept) {
            EXPECT_EQ(window->inpu->toPlainText(), u"see you"_s);
            window->inpu->clear();
            window->close();
        }
    }
}

// Escape in a confirmation box answers No, the answer that changes nothing, also where "N&o to
// All" stands beside "&No".
TEST_F(Keyboard, EscapeInAConfirmationBoxAnswersNo)
{
    QtPrompts prompts(a.form1.get());
    for (const bool noToAll : {false, true}) {
        SCOPED_TRACE(noToAll ? "with No to All" : "Yes and No");
        bool closedByEscape = false;
        QTimer::singleShot(0, a.form1.get(), [&] {
            auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!QTest::qWaitFor([&] { return box && box->isVisible() && QApplication::focusWidget(); },
                                 5000))
                return;
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            closedByEscape = !box->isVisible();
            if (!closedByEscape)
                box->done(0);
        });
        const Prompts::Answer answer = prompts.confirm(u"真的退出么？"_s, noToAll);
        EXPECT_TRUE(closedByEscape);
        EXPECT_EQ(answer, Prompts::Answer::No);
    }
}
