#pragma once

#include "tests/a11y/AccessibleTree.h"
#include "tests/a11y/FriendsWindows.h"
#include "tests/support/Waits.h"

#include <optional>

// Two friends, A and B (see FriendsWindows), read over the accessibility bus as a screen reader
// reads them. B's main window is hidden, so that A's is the one main window on the bus.
class ScreenReader : public FriendsWindows {
protected:
    void SetUp() override
    {
        FriendsWindows::SetUp();
        b.form1->hide();
    }

    // This process's tree as the reader sees it now; fails the test when it cannot be read.
    static AccessibleTree read()
    {
        QString error;
        std::optional<AccessibleTree> tree = AccessibleTree::read(&error);
        EXPECT_TRUE(tree) << error.toStdString();
        return tree.value_or(AccessibleTree());
    }
};
