#pragma once

#include "tests/ui/Conversation.h"
#include "transfer/FileWindow.h"
#include "ui/DesktopPresence.h"
#include "ui/TForm2.h"

#include <QDBusConnection>
#include <QTabWidget>
#include <QTemporaryDir>

#include <memory>

// Two friends, A and B (see Conversation), and the ways to A's windows that the accessibility
// tests open one by one. A has its desktop presence (the unread marks of its buddy list and the
// settings page of tray and notices), as the program has.
class FriendsWindows : public Conversation {
protected:
    void SetUp() override
    {
        Conversation::SetUp();
        befriend();
        desktop = std::make_unique<DesktopPresence>(
            *a.form1, *a.form2, true, [] { return QDBusConnection(QStringLiteral("none")); },
            AutostartEntry(config.path(), QStringLiteral("/usr/bin/talvino")));
    }
    void TearDown() override { desktop.reset(); }

    // What a file window of A's is made with.
    FileWindowLinks links()
    {
        return {*a.form1->lwudp, a.form1->Tag,         a.context,
                a.form1.get(),   &a.form1->security(), a.form1->presence()};
    }
    // A's settings window, open at the page of that index.
    QWidget *settingsPage(int index)
    {
        a.form2->show();
        a.form2->PageControl1->setCurrentIndex(index);
        return a.form2.get();
    }

    QTemporaryDir config;
    std::unique_ptr<DesktopPresence> desktop;
};
