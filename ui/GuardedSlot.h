#pragma once

#include "core/ErrorReporter.h"

// Wraps a window's handler for connecting to a signal: the handler runs inside guarded(),
// so whatever it raises reaches the reporter instead of crossing the Qt event loop.
template <typename Window>
auto guardedSlot(ErrorReporter &reporter, Window *window, void (Window::*handler)())
{
    return [&reporter, window, handler] { guarded(reporter, [&] { (window->*handler)(); }); };
}
