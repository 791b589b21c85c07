#include "ui/FileDropTarget.h"

#include <QAbstractScrollArea>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

FileDropTarget::FileDropTarget(QObject *parent, Accepts accepts, Dropped dropped)
    : QObject(parent), accepts_(std::move(accepts)), dropped_(std::move(dropped))
{
}

void FileDropTarget::watch(QWidget *widget)
{
    widget->setAcceptDrops(true);
    // A scroll area takes drops for its viewport.
    if (auto *area = qobject_cast<QAbstractScrollArea *>(widget->parentWidget()); area && area->viewport() == widget)
        area->setAcceptDrops(true);
    widget->installEventFilter(this);
}

QStringList FileDropTarget::localPaths(const QMimeData *mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl &url : mime->urls()) {
        if (!url.isLocalFile())
            return {};
        paths.append(url.toLocalFile());
    }
    return paths;
}

bool FileDropTarget::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QObject::eventFilter(watched, event);
    auto *widget = qobject_cast<QWidget *>(watched);
    auto *drop = static_cast<QDropEvent *>(event);
    const QPoint pos = drop->position().toPoint();
    if (!widget || localPaths(drop->mimeData()).isEmpty())
        return QObject::eventFilter(watched, event);
    // The enter is taken wherever the files come in, so that the moves that follow reach us;
    // each move then says whether a drop would be taken where the pointer is.
    if (type != QEvent::DragEnter && !accepts_(widget, pos)) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (type == QEvent::Drop)
        dropped_(widget, pos, localPaths(drop->mimeData()));
    return true;
}
