#pragma once

#include "core/ErrorReporter.h"
#include "core/PeerContext.h"
#include "core/Prompts.h"

#include <QWidget>

// Runs one handler of window: every box it raises, its error box included, belongs to window,
// and whatever it raises reaches the reporter instead of crossing the Qt event loop. Returns
// false when the handler raised.
template <typename Handler> bool guardedIn(const PeerContext &context, QWidget *window, Handler &&handler)
{
    const Prompts::Owner owner(*context.prompts, window);
    return guarded(*context.reporter, handler);
}

// Wraps a window's handler for connecting to a signal, run through guardedIn().
template <typename Window>
auto guardedSlot(const PeerContext &context, Window *window, void (Window::*handler)())
{
    return [&context, window, handler] { guardedIn(context, window, [&] { (window->*handler)(); }); };
}
