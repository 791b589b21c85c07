#pragma once

#include <QDialog>
#include <QString>

class PeerSecurity;
class QCheckBox;
class QLabel;
class QPushButton;

// The safety code of us and one peer, shown large in three groups of four digits, with what
// to do with it: compare it with the peer's (aloud or on screen) and tick "已核对". While the
// peer announces another key than the pinned one it says so in red and offers to accept the
// new key, which then needs comparing again. It follows the peer's state while it is open.
class SafetyCodeDialog : public QDialog {
    Q_OBJECT
public:
    SafetyCodeDialog(PeerSecurity &security, const QString &ip, const QString &name, QWidget *parent);

    QLabel *code;
    QLabel *state;
    QCheckBox *verified;
    QPushButton *acceptKey;

private:
    void refresh();

    PeerSecurity &security_;
    const QString ip_;
};
