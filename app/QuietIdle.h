#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPixmapCache>
#include <QTimer>

// Qt's pixmap cache arms a 30-second flush timer when it takes its first entry, and the
// style's cached pieces of the first frame are its only entries at start. Dropping them once
// the main window's first frame is out keeps a program that nobody touches from waking at
// all; the next paint simply draws those pieces again.
class QuietIdle : public QObject {
public:
    // Watches window (not owned) for its first update request.
    explicit QuietIdle(QObject *window) : window_(window) { window_->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == window_ && event->type() == QEvent::UpdateRequest) {
            window_->removeEventFilter(this);
            // Queued, so that it runs after this update request has painted.
            QTimer::singleShot(0, this, [] { QPixmapCache::clear(); });
        }
        return false;
    }

private:
    QObject *window_;
};
