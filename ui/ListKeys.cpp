#include "ui/ListKeys.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QKeyEvent>

ListKeys::ListKeys(QAbstractItemView &list, std::function<void()> activate)
    : QObject(&list), list_(list), activate_(std::move(activate))
{
    list.installEventFilter(this);
}

bool ListKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != &list_ || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if ((key->key() == Qt::Key_Menu && modifiers == Qt::NoModifier)
        || (key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
        openMenu();
        return true;
    }
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier
        && list_.currentIndex().isValid()) {
        selectCurrent();
        activate_();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void ListKeys::selectCurrent()
{
    const QModelIndex current = list_.currentIndex();
    if (current.isValid() && list_.selectionModel())
        list_.selectionModel()->select(current, QItemSelectionModel::ClearAndSelect);
}

// Where a right-click on the current item would be (viewport coordinates, as the list reports
// its own requests); the list's corner when it has none.
void ListKeys::openMenu()
{
    selectCurrent();
    const QModelIndex current = list_.currentIndex();
    const QRect item = current.isValid() ? list_.visualRect(current) : QRect();
    const QPoint at = item.isValid() ? item.center() : QPoint(0, 0);
    if (list_.contextMenuPolicy() == Qt::CustomContextMenu)
        emit list_.customContextMenuRequested(at);
}
