#pragma once

#include "core/NearbyTable.h"

#include <QWidget>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTimer;
class MainWindowLinks;

// The add-friend dialog: sends a friend request (type 2, the own nickname) to the address
// typed in dfip, or filled in by picking one of the nearby peers offered in nearby, and waits up to 30 s for the peer's friend accept, which the dispatcher
// delivers by closing the most recently opened dialog. Created anew for each use as a child
// window of the main window, and released 2000 ms after closing.
class TForm4 : public QWidget {
    Q_OBJECT
public:
    // Longest address text: a dotted-decimal address such as 255.255.255.255.
    static constexpr int AddressLength = 15;

    explicit TForm4(MainWindowLinks &main);

    // The friend accept arrived: close the dialog and reset it (button enabled, box cleared,
    // no time-out).
    void acceptReply();

    // Whether the last request went to fromIp, the only address whose accept closes the dialog.
    bool asked(const QString &fromIp) const;

    // The nearby peers to offer (the main window keeps them current).
    void setNearbyPeers(const QList<NearbyPeer> &peers);
    // Picking the nearby peer of that row (0 is the prompt): its address goes into dfip.
    void nearbyActivated(int row);

    // Handlers.
    void Button1Click();
    void dfipKeyDown(int key);
    void Timer1Timer();
    void FormClose();
    void Timer2Timer();

    // Controls.
    QLineEdit *dfip;
    QPushButton *Button1;
    QComboBox *nearby;
    QTimer *Timer1; // request time-out
    QTimer *Timer2; // destruction after closing

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static QString addressOf(const QString &host);

    MainWindowLinks &main_;
    // Where the last request went: the typed address, or the address the typed name had.
    QString asked_;
};
