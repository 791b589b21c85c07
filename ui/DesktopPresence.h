#pragma once

#include "ui/AutostartEntry.h"
#include "ui/DesktopNotifier.h"
#include "ui/MessageAttention.h"
#include "ui/UnreadCounts.h"
#include "ui/UnreadMarks.h"

#include <QObject>
#include <QPointer>
#include <memory>

class QCheckBox;
class QLabel;
class QWidget;
class TForm1;
class TForm2;
class TrayIcon;

// The program's presence on the desktop, around its main and settings windows: the tray icon
// (where the desktop has a tray), into which closing the main window hides it (a box says so
// the first time, remembered in myinfo.ini), the unread marks of the buddy list and the tray,
// the desktop notices of messages that arrive unseen, and the settings window's tab of these
// options (start at login, notify while busy).
class DesktopPresence : public QObject {
    Q_OBJECT
public:
    // The key under MainSection of myinfo.ini that remembers that the tray box was shown.
    static inline const QString TrayHintKey = QStringLiteral("TrayHintShown");

    // withTray: show a tray icon (the program passes TrayIcon::available()). The autostart
    // entry is written for autostart's program, in its config home.
    DesktopPresence(TForm1 &main, TForm2 &settings, bool withTray, DesktopNotifier::BusOpener openBus,
                    const AutostartEntry &autostart);
    ~DesktopPresence() override;

    // The main window's close: with a tray, hides it there (after the box, the first time)
    // and returns true; without one returns false, and the program ends.
    bool hideToTray();
    // Shows the main window in front, as the tray's "显示主窗口" does.
    void showMainWindow();
    // Opens the window of a notice (the main window once that is gone).
    void openWindow(QWidget *window);

    // The text of the box shown the first time the main window hides into the tray.
    static QString trayHint();

    UnreadCounts unread;
    MessageAttention attention;
    DesktopNotifier notifier;
    UnreadMarks marks;
    TrayIcon *tray() const { return tray_.get(); }

    // The settings window's tab and its controls.
    QWidget *options;
    QCheckBox *autostart;
    QCheckBox *busyNotify;
    QLabel *trayState;

private:
    QWidget *buildOptionsTab(bool withTray);
    void autostartClick();

    TForm1 &main_;
    TForm2 &settings_;
    AutostartEntry entry_;
    std::unique_ptr<TrayIcon> tray_;
    // The tab belongs to the settings window; removed here while that still exists.
    QPointer<QWidget> ownOptions_;
};
