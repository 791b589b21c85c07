#pragma once

#include <QListWidget>

// Row of the one selected item of a single-selection list, or -1 when nothing is selected.
inline int selectedRow(const QListWidget *list)
{
    const QList<QListWidgetItem *> items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.first());
}
