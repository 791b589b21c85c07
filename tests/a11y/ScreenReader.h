#pragma once

#include "tests/a11y/AccessibleTree.h"
#include "tests/support/Waits.h"
#include "tests/a11y/FriendsWindows.h"
#include "ui/DesktopPresence.h"

#include <QDBusConnection>
#include <QTemporaryDir>

#include <memory>

// Two friends, A and B (see FriendsWindows), read over the accessibility bus as a screen reader
// reads them. A has its desktop presence (the unread marks of its buddy list and the settings
// tab of tray and notices), as the program has; B's main window is hidden, so that A's is the
// one main window on the bus.
class ScreenReader : public FriendsWindows {
protected:
    void SetUp() override
    {
        FriendsWindows::SetUp();
        desktop = std::make_unique<DesktopPresence>(
            *a.form1, *a.form2, true, [] { return QDBusConnection(QStringLiteral("none")); },
            AutostartEntry(config.path(), QStringLiteral("/usr/bin/talvino")));
        b.form1->hide();
    }
    void TearDown() override { desktop.reset(); }

    // This process's tree as the reader sees it now; fails the test when it cannot be read.
    static AccessibleTree read()
    {
        QString error;
        std::optional<AccessibleTree> tree = AccessibleTree::read(&error);
        EXPECT_TRUE(tree) << error.toStdString();
        return tree.value_or(AccessibleTree());
    }

    QTemporaryDir config;
    std::unique_ptr<DesktopPresence> desktop;
};
