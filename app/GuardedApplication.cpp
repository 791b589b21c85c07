#include "app/GuardedApplication.h"

#include "core/ErrorReporter.h"

bool GuardedApplication::notify(QObject *receiver, QEvent *event)
{
    if (!reporter_)
        return QApplication::notify(receiver, event);
    bool handled = false;
    guarded(*reporter_, [&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
