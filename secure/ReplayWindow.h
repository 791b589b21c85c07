#pragma once

#include <QtGlobal>

#include <bitset>

// Accepts each counter of one sender at most once. It keeps the highest counter accepted and
// which of the Size counters just below it were accepted; a counter older than that window is
// refused, as is counter 0 (senders start at 1).
class ReplayWindow {
public:
    static constexpr int Size = 1024;

    // Whether counter would be accepted; records nothing.
    bool check(quint64 counter) const;
    // Records counter as accepted (after its envelope opened); call only when check() held.
    void record(quint64 counter);
    quint64 highest() const { return highest_; }
    // Replaces the state by one where every counter up to highest counts as seen (after a
    // restart, from the highest counter kept on disk).
    void restore(quint64 highest);

private:
    quint64 highest_ = 0;
    // Bit i: counter highest_ - 1 - i was accepted.
    std::bitset<Size> below_;
};
