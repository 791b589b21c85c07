#include "secure/ReplayWindow.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// Counters offered one after the other, each with whether it must be accepted; an accepted one
// is recorded. restoreTo, when not 0, is restored first.
struct Sequence {
    const char *name;
    quint64 restoreTo;
    std::vector<std::pair<quint64, bool>> steps;
};

} // namespace

TEST(ReplayWindowTest, AcceptsEachCounterOnceWithinTheWindow)
{
    constexpr quint64 W = ReplayWindow::Size;
    const Sequence sequences[] = {
        {"in order", 0, {{1, true}, {2, true}, {3, true}, {3, false}, {1, false}}},
        {"zero never", 0, {{0, false}, {5, true}, {0, false}}},
        {"reordered", 0, {{5, true}, {3, true}, {4, true}, {1, true}, {3, false}, {2, true}, {5, false}}},
        {"window edge", 0, {{W + 10, true}, {10, true}, {9, false}, {10, false}, {W + 9, true}}},
        {"jump past window", 0, {{3, true}, {2 * W + 5, true}, {3, false}, {W + 5, true}, {W + 4, false}}},
        {"slide by one keeps marks", 0, {{W, true}, {W - 1, true}, {W + 1, true}, {W - 1, false}, {W - 2, true}}},
        {"slide by window", 0, {{10, true}, {9, true}, {W + 10, true}, {10, false}, {11, true}, {9, false}}},
        {"restored", 100, {{100, false}, {1, false}, {99, false}, {101, true}, {100, false}, {102, true}}},
    };
    for (const Sequence &s : sequences) {
        ReplayWindow window;
        if (s.restoreTo)
            window.restore(s.restoreTo);
        for (const auto &[counter, accepted] : s.steps) {
            EXPECT_EQ(window.check(counter), accepted) << s.name << ": counter " << counter;
            if (accepted)
                window.record(counter);
        }
    }
}
