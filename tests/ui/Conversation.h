#pragma once

#include "core/Gbk.h"
#include "core/LocalTime.h"
#include "tests/support/TestPeer.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"
#include "ui/TForm3.h"
#include "ui/TForm4.h"
#include "ui/TForm5.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

// Two complete peers in one process: A (阿明) on 127.0.0.2 and B (阿红) on 127.0.0.3, both
// started, with their main and settings windows and real endpoints.
class Conversation : public ::testing::Test {
protected:
    Conversation()
    {
        a.storeNickname(QStringLiteral("阿明"));
        b.storeNickname(QStringLiteral("阿红"));
        a.start();
        b.start();
    }

    void SetUp() override
    {
        ASSERT_TRUE(a.form1->receiving()) << "127.0.0.2:2928 is taken";
        ASSERT_TRUE(b.form1->receiving()) << "127.0.0.3:2928 is taken";
    }

    // The message windows of a peer that are not yet released, oldest first.
    static QList<TForm3 *> windows(const TestPeer &peer) { return peer.form1->findChildren<TForm3 *>(); }
    // The open (shown) message windows of a peer, oldest first.
    static QList<TForm3 *> openWindows(const TestPeer &peer)
    {
        QList<TForm3 *> open;
        for (TForm3 *window : windows(peer)) {
            if (window->isVisible())
                open << window;
        }
        return open;
    }
    // Waits until peer has count open message windows and returns the newest.
    static TForm3 *waitForWindow(const TestPeer &peer, qsizetype count = 1)
    {
        if (!QTest::qWaitFor([&] { return openWindows(peer).size() >= count; }, 5000))
            return nullptr;
        return openWindows(peer).last();
    }

    // A asks B for friendship through the add-friend dialog; B in normal status accepts.
    void befriend()
    {
        b.form1->N18->trigger();
        a.form1->N9->trigger();
        TForm4 *dialog = a.form1->addFriendDialog();
        ASSERT_NE(dialog, nullptr);
        dialog->dfip->setText(b.ip());
        dialog->Button1->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return a.form1->userlist->count() == 1; }, 5000));
        ASSERT_EQ(b.form1->userlist->count(), 1);
    }

    // A message window to the peer's first buddy, opened from the buddy list's menu.
    static TForm3 *writeToFirstBuddy(const TestPeer &peer)
    {
        peer.form1->userlist->item(0)->setSelected(true);
        peer.form1->N1->trigger();
        return openWindows(peer).isEmpty() ? nullptr : openWindows(peer).last();
    }

    static void send(TForm3 *window, const QString &text)
    {
        window->inpu->setPlainText(text);
        window->fs->click();
    }

    // Whether stamp is a time in the long time format (after the date in the short date
    // format, when withDate) of some second between from and to.
    static bool isStampBetween(const QString &stamp, const QDateTime &from, const QDateTime &to,
                               bool withDate)
    {
        for (QDateTime t = from.addMSecs(-from.time().msec()); t <= to; t = t.addSecs(1)) {
            const QString time = LocalTime::longTime(t.time());
            if (stamp == (withDate ? LocalTime::shortDate(t.date()) + u' ' + time : time))
                return true;
        }
        return false;
    }

    TestPeer a{QStringLiteral("127.0.0.2")};
    TestPeer b{QStringLiteral("127.0.0.3")};
};
