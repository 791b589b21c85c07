#pragma once

#include "bench/BenchOptions.h"

#include <QAccessible>
#include <QGuiApplication>

#include <cstdio>

// Checks of the session a role's windows run in, against what its options ask for:
// --platform NAME (e.g. xcb: a real X display) and --a11y on|off (the accessibility bridge
// connected to an accessibility bus, as while a screen reader runs, or not). Without those
// options any platform and either state will do.

// Ends the role unless the application's platform is the one asked for; call it once the
// application exists.
inline void requirePlatform(const BenchOptions &o)
{
    const QString platform = QGuiApplication::platformName();
    std::fprintf(stderr, "%s: platform %s\n", o.role.c_str(), qPrintable(platform));
    if (!o.platform.empty() && platform != QString::fromStdString(o.platform)) {
        std::fprintf(stderr, "%s: the windows are not on %s\n", o.role.c_str(), o.platform.c_str());
        std::exit(1);
    }
}

// Whether the accessibility bridge is active as asked. Call it late, after the transfer or
// the messages: the bridge turns active only once it has reached the accessibility bus.
inline bool accessibilityAsAsked(const BenchOptions &o)
{
    const bool active = QAccessible::isActive();
    std::fprintf(stderr, "%s: accessibility bridge %s\n", o.role.c_str(), active ? "active" : "inactive");
    if (o.a11y.empty() || active == (o.a11y == "on"))
        return true;
    std::fprintf(stderr, "%s: the accessibility bridge should be %s\n", o.role.c_str(), o.a11y.c_str());
    return false;
}
