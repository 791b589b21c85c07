#include "ui/Cascade.h"

#include <algorithm>

QPoint Cascade::next(const QSize &frame, const QRect &available)
{
    const int roomX = std::max(0, available.width() - frame.width() - RoundingSlack);
    const int roomY = std::max(0, available.height() - frame.height() - RoundingSlack);
    QPoint at = count_ == 0 ? start_ : last_ + QPoint(Step, Step);
    // The first window keeps to its start as far as the area lets it; a later one that would
    // leave the area begins a new round at the top-left.
    if (count_ > 0 && (at.x() > roomX || at.y() > roomY)) {
        ++round_;
        at = QPoint((round_ * RoundShift) % MaxRoundShift, 0);
    }
    at = QPoint(std::clamp(at.x(), 0, roomX), std::clamp(at.y(), 0, roomY));
    ++count_;
    last_ = at;
    return available.topLeft() + at;
}
