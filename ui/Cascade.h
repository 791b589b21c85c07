#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Places windows opened one after another each a step down and to the right of the one
// before, always wholly inside the screen's available area: a window that would leave it
// starts the next round at the top again, a little further right, so that it hides no
// window of the round before exactly.
class Cascade {
public:
    static constexpr int Step = 24;
    static constexpr int RoundShift = 8;

    // start: the first window's top-left, relative to the available area.
    explicit Cascade(QPoint start) : start_(start) {}

    // The top-left of the next window, whose frame (decoration included) has size frame.
    QPoint next(const QSize &frame, const QRect &available);

private:
    QPoint start_;
    int count_ = 0;
};
