#pragma once

#include "bench/ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

// How lan_bench starts a role on one host of its link: inside the host's network namespace
// (ip netns exec) and, for a role with windows, on the X display that DISPLAY names (the xcb
// platform), either without an accessibility bus (no session bus, NO_AT_BRIDGE=1) or with one,
// as while a screen reader runs: a session bus of its own in that namespace with the
// accessibility bus launcher started on it (which starts the accessibility bus; the registry
// starts when the role's bridge registers) and its screen reader status on, and the bridge
// forced on as well (QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1). The role runs as the direct child (ip and env
// replace themselves with it), so that its CPU time, peak memory and threads are its own. The
// session bus lives as long as this object.
class HostSession {
public:
    enum class Windows { None, Plain, Accessible };

    HostSession(const std::string &ns, Windows windows);
    HostSession(const HostSession &) = delete;
    HostSession &operator=(const HostSession &) = delete;

    // The command that runs role (a program and its arguments) on this host; for a role with
    // windows it adds --platform xcb and --a11y on|off, which the role checks.
    std::vector<std::string> command(const std::vector<std::string> &role) const;
    // Ends the screen reader stand-in; the number of events it received, -1 without one.
    long finishScreenReader();

private:
    std::string ns_;
    Windows windows_;
    std::unique_ptr<ChildProcess> bus_;
    std::string busAddress_;
    std::unique_ptr<ChildProcess> screenReader_; // ends before the bus
};
