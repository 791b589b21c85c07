#pragma once

#include "core/Deliveries.h"

#include <QString>
#include <QWidget>

class QLabel;
class QTimer;
class QListWidget;
class QPushButton;

// What became of the messages sent to one peer, in the message window: a line per message (the
// newest 100; time, the start of its text, its state in words), with "重发" for one not delivered and
// "取消" for one waiting in the outbox. Hidden while nothing was sent to the peer. The states
// belong to the conversation (Deliveries): a new window for the peer shows them again.
class DeliveryList : public QWidget {
    Q_OBJECT
public:
    explicit DeliveryList(Deliveries &deliveries, QWidget *parent = nullptr);

    // The words of a state, as the list shows them.
    static QString stateText(Deliveries::State state);

    void setPeer(const QString &ip);
    // Shows the conversation's messages as they are now.
    void refresh();

    QListWidget *list;
    QPushButton *resend;
    QPushButton *cancel;
    // The outbox's bounds, shown while a message waits.
    QLabel *outboxNote;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QByteArray selectedId() const;
    Deliveries::State selectedState() const;
    void updateButtons();

    Deliveries &deliveries_;
    QString ip_;
    // Changes come in bursts (a receipt for each of many messages): they are shown together,
    // once per turn of the event loop, and only while the window is shown.
    QTimer *refreshSoon_;
};
