#include "secure/ReplayWindow.h"

bool ReplayWindow::check(quint64 counter) const
{
    if (counter > highest_)
        return true;
    const quint64 distance = highest_ - counter;
    return distance != 0 && distance <= quint64(Size) && !below_.test(size_t(distance - 1));
}

void ReplayWindow::record(quint64 counter)
{
    if (counter > highest_) {
        const quint64 step = counter - highest_;
        if (step > quint64(Size)) {
            below_.reset();
        } else {
            below_ <<= size_t(step);
            // The old highest is now step below the new one.
            below_.set(size_t(step - 1));
        }
        highest_ = counter;
        return;
    }
    const quint64 distance = highest_ - counter;
    if (distance != 0 && distance <= quint64(Size))
        below_.set(size_t(distance - 1));
}

void ReplayWindow::restore(quint64 highest)
{
    highest_ = highest;
    below_.set();
}
