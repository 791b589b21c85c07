#pragma once

#include "ui/FixedHeightDelegate.h"

#include <QPainter>

// A list's items at a fixed height, each with an optional short mark (MarkRole) drawn at the
// right end in a quieter colour: a buddy's "未加密" beside its entry, without touching the
// entry's text (which the list's commands read).
class MarkedItemDelegate : public FixedHeightDelegate {
    Q_OBJECT
public:
    static constexpr int MarkRole = Qt::UserRole + 7;

    using FixedHeightDelegate::FixedHeightDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        FixedHeightDelegate::paint(painter, option, index);
        const QString mark = index.data(MarkRole).toString();
        if (mark.isEmpty())
            return;
        painter->save();
        const bool selected = option.state & QStyle::State_Selected;
        QColor colour = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        colour.setAlpha(170);
        painter->setPen(colour);
        painter->setFont(option.font);
        painter->drawText(option.rect.adjusted(0, 0, -3, 0), Qt::AlignRight | Qt::AlignVCenter, mark);
        painter->restore();
    }
};
