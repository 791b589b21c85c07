#pragma once

#include <QStyledItemDelegate>

// Draws a search hit of HistoryHitModel in three lines: the buddy, time and direction, then up
// to two lines of the excerpt with the searched words on a highlight. The texts are laid out
// as plain text (QTextLayout with format ranges): nothing a peer wrote is read as markup.
class HistoryHitDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // Lines of the excerpt shown at most; the rest is cut.
    static constexpr int ExcerptLines = 2;
    static constexpr int Padding = 4;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
