#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

// A message (type 1 or 6) that the dispatcher has just shown, and where: the message window or
// chat-room view now holding it (null when it went nowhere a person can see).
struct ArrivedMessage {
    QString fromIp;
    // The name it was shown under: the buddy entry, or "陌生人".
    QString name;
    QString text;
    bool autoReply = false;
    QPointer<QWidget> window;
};
