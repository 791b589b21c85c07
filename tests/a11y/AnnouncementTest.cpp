// What the network opens is announced to a screen reader as it appears, though it does not take
// the keyboard (a window that is not activated gets no window:activate to be announced by): an
// arriving message window, a file offer and a file-set offer are notifications, a friend
// request is an alert box. What the person opens is an ordinary window.
#include "harness/HarnessPeer.h"
#include "tests/a11y/ScreenReader.h"
#include "tests/support/RecordingReporter.h"
#include "tests/ui/NearbyPair.h"
#include "transfer/SetSendWindow.h"
#include "transfer/TForm6.h"
#include "transfer/TransferWindows.h"
#include "ui/QtPrompts.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <functional>

using namespace Qt::Literals::StringLiterals;

class Announcements : public ScreenReader {
protected:
    void SetUp() override
    {
        ScreenReader::SetUp();
        QString error;
        ASSERT_TRUE(events.start(&error)) << error.toStdString();
    }

    // How many objects the reader reported that begin so ("role<TAB>name...").
    qsizetype reports(const QString &start) const
    {
        const QStringList all = events.reported();
        return std::count_if(all.begin(), all.end(),
                             [&](const QString &line) { return line.startsWith(start); });
    }
    QString file(const QString &name, const QByteArray &bytes) const
    {
        const QString path = QDir(files.path()).filePath(name);
        QFile out(path);
        if (out.open(QIODevice::WriteOnly))
            out.write(bytes);
        return path;
    }

    ShowingEvents events;
    QTemporaryDir files;
};

TEST_F(Announcements, WhatTheNetworkOpensIsAnnouncedAsItAppears)
{
    struct Case {
        std::string what;
        std::function<void()> cause;
        QString announced; // the report's start: role and name
        QString saying;    // a text the report holds
    };
    const QList<Case> cases{
        {"a message", [&] { send(writeToFirstBuddy(b), u"晚上一起吃饭？"_s); }, u"notification\t接收消息"_s,
         u"晚上一起吃饭？"_s},
        {"a file offer",
         [&] {
             b.prompts.openAnswers << file(u"报告.txt"_s, "report");
             b.files->openSendFileWindow(a.ip());
             b.files->sendWindow()->Button1->click();
         },
         u"notification\t接收文件"_s, u"报告.txt"_s},
        {"a file-set offer",
         [&] {
             linkPresence(a, b.ip());
             linkPresence(b, a.ip());
             ASSERT_EVENTUALLY(b.files->takesSets(a.ip()), 10000);
             QDir(files.path()).mkpath(u"假期"_s);
             file(u"假期/海边.jpg"_s, "photo");
             b.files->offerPaths(a.ip(), {QDir(files.path()).filePath(u"假期"_s)});
             ASSERT_FALSE(b.files->setSendWindows().isEmpty());
             b.files->setSendWindows().constLast()->sendButton->click();
         },
         u"notification\t接收文件"_s, u"假期"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const qsizetype before = reports(c.announced);
        c.cause();
        ASSERT_EVENTUALLY(reports(c.announced) > before, 10000)
            << events.reported().join(u'\n').toStdString();
        const QStringList all = events.reported();
        const auto report = std::find_if(all.rbegin(), all.rend(),
                                         [&](const QString &line) { return line.startsWith(c.announced); });
        ASSERT_NE(report, all.rend());
        EXPECT_TRUE(report->contains(c.saying)) << report->toStdString();
    }
}

// A friend request asks with a real box: an alert, whose question the reader can read.
TEST_F(Announcements, AFriendRequestIsAnAlert)
{
    QtPrompts prompts;
    RecordingReporter reporter;
    HarnessPeer asked(prompts, prompts, reporter, u"127.0.0.4"_s);
    prompts.setMainWindow(asked.form1.get());
    asked.storeNickname(u"阿青"_s);
    asked.start();
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, &answer, [&] {
        auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (box && reports(u"alert message\tConfirm"_s) > 0)
            box->done(0);
    });
    answer.start(50);
    b.form1->N9->trigger();
    b.form1->addFriendDialog()->dfip->setText(asked.ip());
    b.form1->addFriendDialog()->Button1->click();
    EXPECT_EVENTUALLY(reports(u"alert message\tConfirm"_s) == 1, 10000)
        << events.reported().join(u'\n').toStdString();
    EXPECT_EVENTUALLY(QApplication::activeModalWidget() == nullptr);
}

// A window the person opens is activated, and a screen reader announces it by that: it is an
// ordinary window, no notification.
TEST_F(Announcements, AWindowThePersonOpensIsAnOrdinaryWindow)
{
    ASSERT_NE(writeToFirstBuddy(a), nullptr);
    EXPECT_EVENTUALLY(reports(u"frame\t发送消息"_s) == 1) << events.reported().join(u'\n').toStdString();
    EXPECT_EQ(reports(u"notification\t发送消息"_s), 0);
}
