#include "ui/Cascade.h"

#include <algorithm>

QPoint Cascade::next(const QSize &frame, const QRect &available)
{
    const int roomX = std::max(0, available.width() - frame.width());
    const int roomY = std::max(0, available.height() - frame.height());
    const int x0 = std::min(start_.x(), roomX);
    const int y0 = std::min(start_.y(), roomY);
    const int steps = 1 + std::min((roomX - x0) / Step, (roomY - y0) / Step);
    const int n = count_++;
    const int round = n / steps;
    const int inRound = n % steps;
    const int x = std::min(x0 + inRound * Step + (round * RoundShift) % (Step * 4), roomX);
    const int y = std::min(y0 + inRound * Step, roomY);
    return available.topLeft() + QPoint(x, y);
}
