#pragma once

#include <QObject>
#include <functional>

class QAbstractItemView;

// The keyboard's way to a list's commands: the Menu key and Shift+F10 open its context menu at
// the current item (the list's customContextMenuRequested, as a right-click there), and Enter
// or Return on an item does what a double-click on it does. The current item is selected
// first, so that commands that act on the selected item act on it.
class ListKeys : public QObject {
    Q_OBJECT
public:
    ListKeys(QAbstractItemView &list, std::function<void()> activate);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void selectCurrent();
    void openMenu();

    QAbstractItemView &list_;
    std::function<void()> activate_;
};
