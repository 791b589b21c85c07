#pragma once

#include <QString>
#include <QWidget>

class PeerSecurity;
class QLabel;
class QPushButton;

// A message window's line about its peer's security: "未加密", or "已加密" with the safety
// code (and whether it was compared), and a button that opens the safety-code dialog. While
// the peer's key changed, or another host announces the same key, a red warning above says
// so in words (warning, shown only then).
// It follows the peer's state while the window is open.
class SecurityStrip : public QWidget {
    Q_OBJECT
public:
    SecurityStrip(PeerSecurity &security, QWidget *parent = nullptr);

    // The peer this window talks to (its address) and the name it is shown under.
    void setPeer(const QString &ip, const QString &name);
    void refresh();

    QLabel *stateLabel;
    QPushButton *codeButton;
    // The key-change warning: a separate widget for the window to place above its pane.
    QLabel *warning;

private:
    void openDialog();

    PeerSecurity &security_;
    QString ip_;
    QString name_;
};
