#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Places windows opened one after another each a step down and to the right of the one
// before, always wholly inside the screen's available area (where the window fits in it at
// all). A window that would leave the area starts a new round at the area's top-left, each
// round a little further right than the one before, so that no window hides another exactly,
// whatever the scale factor and the screen's size.
class Cascade {
public:
    static constexpr int Step = 24;
    static constexpr int RoundShift = 8;
    // Rounds shift right by at most this much before they start at the left edge again.
    static constexpr int MaxRoundShift = Step * 4;
    // Room kept at the right and bottom: the frame's size is estimated from another window's
    // decoration, and at a scale factor above 1 a border of a device pixel rounds either way in
    // logical pixels.
    static constexpr int RoundingSlack = 2;

    // start: the first window's top-left, relative to the available area.
    explicit Cascade(QPoint start) : start_(start) {}

    // The top-left of the next window, whose frame (decoration included) has size frame.
    QPoint next(const QSize &frame, const QRect &available);

private:
    QPoint start_;
    QPoint last_; // the last window's top-left, relative to the available area
    int count_ = 0;
    int round_ = 0;
};
