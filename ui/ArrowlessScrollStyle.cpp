#include "ui/ArrowlessScrollStyle.h"

#include <QApplication>
#include <QStyleFactory>
#include <QStyleOptionSlider>

#include <algorithm>

ArrowlessScrollStyle::ArrowlessScrollStyle(QObject *parent)
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
{
    setParent(parent);
}

QRect ArrowlessScrollStyle::subControlRect(ComplexControl control, const QStyleOptionComplex *option,
                                           SubControl part, const QWidget *widget) const
{
    const auto *bar = qstyleoption_cast<const QStyleOptionSlider *>(option);
    if (control != CC_ScrollBar || !bar)
        return QProxyStyle::subControlRect(control, option, part, widget);
    const bool vertical = bar->orientation == Qt::Vertical;
    const QRect whole = bar->rect;
    const int length = vertical ? whole.height() : whole.width();
    const qint64 range = qint64(bar->maximum) - bar->minimum;
    const int minThumb = std::min(length, pixelMetric(PM_ScrollBarSliderMin, bar, widget));
    const int thumb = range <= 0
        ? length
        : std::clamp(int(qint64(length) * bar->pageStep / (range + bar->pageStep)), minThumb, length);
    const int start = sliderPositionFromValue(bar->minimum, bar->maximum, bar->sliderPosition, length - thumb,
                                              bar->upsideDown);
    const auto span = [&](int from, int size) {
        return vertical ? QRect(whole.x(), whole.y() + from, whole.width(), size)
                        : QRect(whole.x() + from, whole.y(), size, whole.height());
    };
    switch (part) {
    case SC_ScrollBarSubLine:
    case SC_ScrollBarAddLine: return {};
    case SC_ScrollBarSubPage: return visualRect(bar->direction, whole, span(0, start));
    case SC_ScrollBarAddPage:
        return visualRect(bar->direction, whole, span(start + thumb, length - start - thumb));
    case SC_ScrollBarSlider: return visualRect(bar->direction, whole, span(start, thumb));
    case SC_ScrollBarGroove: return whole;
    default: return QProxyStyle::subControlRect(control, option, part, widget);
    }
}
