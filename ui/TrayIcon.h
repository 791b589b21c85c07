#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>

class QAction;
class QMenu;
class QSystemTrayIcon;
class TForm1;
class UnreadCounts;

// The program's icon in the desktop's tray: it shows the status (its dot: green in normal
// status, blue in secure status, orange while an automatic reply is set) and the unread
// count (a red badge), which its tooltip tells in words. Its menu shows the main window,
// holds the main window's own status items and automatic-reply submenu (the same actions, so
// both menus always agree), and quits. A click on the icon shows the main window.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    // What the icon's dot shows.
    enum class Look { Normal, Secure, Busy };

    TrayIcon(TForm1 &main, const UnreadCounts &unread, QObject *parent = nullptr);
    ~TrayIcon() override;

    // Whether the desktop has a tray to show an icon in.
    static bool available();

    // The icon for a look and an unread count, drawn at the sizes trays use.
    static QIcon draw(Look look, int unread);
    // The tooltip's text (plain): title, status, automatic reply, unread messages.
    QString toolTipText() const;
    Look look() const;

    QSystemTrayIcon *icon;
    QMenu *menu;
    QAction *showMain;
    QAction *quitItem;

signals:
    void showMainRequested();
    void quitRequested();

private:
    void update();

    TForm1 &main_;
    // The menu belongs to the main window (its parent); released here when that is still alive.
    QPointer<QMenu> ownMenu_;
    const UnreadCounts &unread_;
};
