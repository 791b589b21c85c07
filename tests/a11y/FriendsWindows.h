#pragma once

#include "tests/ui/Conversation.h"
#include "transfer/FileWindow.h"
#include "ui/TForm2.h"

#include <QTabWidget>

// Two friends, A and B (see Conversation), and the ways to A's windows that the accessibility
// tests open one by one.
class FriendsWindows : public Conversation {
protected:
    void SetUp() override
    {
        Conversation::SetUp();
        befriend();
    }

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
};
