#pragma once

#include <QStyledItemDelegate>

// Draws a list's items in the usual way but gives every item the same height in pixels.
class FixedHeightDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    FixedHeightDelegate(int height, QObject *parent) : QStyledItemDelegate(parent), height_(height) {}

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
    }

private:
    int height_;
};
