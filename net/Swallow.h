#pragma once

// Calls handler and drops whatever it raises: for event handlers whose failure must not
// disturb the notification that raised them, and for clean-up whose own failure must not
// replace the error being reported.
template <typename Handler> void swallow(Handler &&handler)
{
    try {
        handler();
    } catch (...) {}
}
