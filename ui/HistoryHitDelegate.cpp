#include "ui/HistoryHitDelegate.h"

#include "ui/HistoryHitModel.h"

#include <QApplication>
#include <QPainter>
#include <QTextLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

// The excerpt's marks as formats of its layout; marks outside the text are left out.
QList<QTextLayout::FormatRange> markFormats(const SearchHit &hit)
{
    QTextCharFormat mark;
    mark.setBackground(HistoryHitModel::markBackground());
    mark.setForeground(HistoryHitModel::markText());
    QList<QTextLayout::FormatRange> formats;
    const int size = int(hit.excerpt.size());
    for (const TextSpan &span : hit.marks) {
        const int start = std::clamp(span.start, 0, size);
        const int length = std::clamp(span.length, 0, size - start);
        if (length > 0)
            formats.append({start, length, mark});
    }
    return formats;
}

} // namespace

QSize HistoryHitDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    // As wide as the list makes it: the excerpt wraps, and nothing scrolls sideways.
    const int line = option.fontMetrics.lineSpacing();
    return {1, (1 + ExcerptLines) * line + 2 * Padding};
}

void HistoryHitDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const
{
    const auto *model = qobject_cast<const HistoryHitModel *>(index.model());
    if (!model || index.row() >= model->count())
        return;
    const SearchHit &hit = model->hit(index.row());
    QStyleOptionViewItem panel = option;
    initStyleOption(&panel, index);
    panel.text.clear();
    const QStyle *style = option.widget ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &panel, painter, option.widget);

    painter->save();
    const bool selected = option.state & QStyle::State_Selected;
    const QColor text = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const QRect area = option.rect.adjusted(Padding, Padding, -Padding, -Padding);
    const int line = option.fontMetrics.lineSpacing();

    // The header: the buddy in bold, then time and direction in a quieter colour.
    QFont bold = option.font;
    bold.setBold(true);
    const QFontMetrics boldMetrics(bold);
    const QString buddy = boldMetrics.elidedText(hit.buddy, Qt::ElideRight, area.width() / 2);
    painter->setFont(bold);
    painter->setPen(text);
    painter->drawText(QRect(area.left(), area.top(), area.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                      buddy);
    const int after = area.left() + boldMetrics.horizontalAdvance(buddy)
        + option.fontMetrics.horizontalAdvance(u"  "_s);
    QColor quiet = text;
    quiet.setAlpha(180);
    painter->setFont(option.font);
    painter->setPen(quiet);
    const QString when = HistoryHitModel::timeText(hit.time) + u"  "_s
        + HistoryHitModel::directionText(hit.direction);
    painter->drawText(QRect(after, area.top(), std::max(0, area.right() - after), line),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(when, Qt::ElideRight, std::max(0, area.right() - after)));

    // The excerpt, laid out as plain text with its marks.
    QTextLayout layout(hit.excerpt, option.font, painter->device());
    QTextOption wrapping;
    wrapping.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(wrapping);
    layout.setFormats(markFormats(hit));
    layout.beginLayout();
    qreal y = 0;
    for (int i = 0; i < ExcerptLines; ++i) {
        QTextLine textLine = layout.createLine();
        if (!textLine.isValid())
            break;
        textLine.setLineWidth(area.width());
        textLine.setPosition(QPointF(0, y));
        y += line;
    }
    layout.endLayout();
    painter->setPen(text);
    painter->setClipRect(QRect(area.left(), area.top() + line, area.width(), ExcerptLines * line));
    layout.draw(painter, QPointF(area.left(), area.top() + line));
    painter->restore();
}
