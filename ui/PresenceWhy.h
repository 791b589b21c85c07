#pragma once

#include <QDialog>

class PresenceService;
class QPlainTextEdit;
class QPushButton;

// "为什么看不到？": what presence uses and sees (each interface with its address, broadcast
// address, last hello sent and last datagram heard; whether port 2928 is held; datagrams
// dropped by the rate limit) and the usual reasons a peer is not seen, in plain text. A small
// window of the main window; "刷新" reads the service again.
class PresenceWhy : public QDialog {
    Q_OBJECT
public:
    PresenceWhy(const PresenceService &service, QWidget *parent);

    // The window's whole text for the service as it is now.
    static QString report(const PresenceService &service);
    void reread();

    QPlainTextEdit *text;
    QPushButton *again;

private:
    const PresenceService &service_;
};
