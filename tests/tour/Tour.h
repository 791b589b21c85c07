#pragma once

// What the screenshot tours share: the application as they show it (Fusion, a light or a dark
// palette, Chinese boxes), peers with real boxes in a folder of their own, and a wait that keeps
// the event loop running.
#include "core/Gbk.h"
#include "harness/HarnessPeer.h"
#include "ui/ErrorBox.h"
#include "ui/QtPrompts.h"
#include "ui/QtTranslation.h"
#include "ui/TForm1.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPalette>
#include <QStyleFactory>
#include <QTimer>
#include <cstdio>
#include <functional>

namespace Tour {

// Real boxes, but quiet while the tour sets its peers up.
class Prompts : public QtPrompts {
public:
    bool quiet = true;
    void information(const QString &text) override
    {
        if (!quiet)
            QtPrompts::information(text);
    }
};

// The boxes of a tour peer: a base of its own, so that they are made before the windows and
// gone after them.
struct Boxes {
    Prompts prompts;
    ErrorBox errors{prompts};
};

// A harness peer in the given folder, with real boxes, that an earlier run left with a nickname.
struct Peer : Boxes, HarnessPeer {
    Peer(const QString &address, const QString &folder, const QString &name)
        : HarnessPeer(prompts, prompts, errors, address, (QDir().mkpath(folder), folder))
    {
        storeNickname(name);
        // Boxes that no window of their own raised belong to the main window.
        prompts.setMainWindow(form1.get());
    }
    ~Peer() { prompts.setMainWindow(nullptr); }

    void befriend(const QString &name, const QString &ip)
    {
        form1->store().adduser(Gbk::encode(name), ip, 1);
        form1->buddyListChanged(form1->store().buddyEntries());
    }
};

inline QPalette darkPalette()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Button, QColor(55, 55, 58));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    dark.setColor(QPalette::ToolTipBase, QColor(60, 60, 60));
    dark.setColor(QPalette::ToolTipText, QColor(230, 230, 230));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(127, 127, 127));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(127, 127, 127));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(127, 127, 127));
    return dark;
}

// The application as the program shows it, in the palette named "light" or "dark".
inline void dress(QApplication &app, const char *palette)
{
    QApplication::setApplicationName(QStringLiteral("Talvino version 1.0"));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (qstrcmp(palette, "dark") == 0)
        QApplication::setPalette(darkPalette());
    QtTranslation::install(app);
}

// Prints a window's id under a name, for scripts/screenshots.sh.
inline void print(const char *name, const QWidget *window)
{
    std::printf("%s %llu\n", name, static_cast<unsigned long long>(window->winId()));
}

// Waits, without blocking the loop, until test is true or a few seconds have passed.
inline void waitFor(const std::function<bool()> &test, int timeoutMs = 5000)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (test())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(20);
    loop.exec();
}

} // namespace Tour
