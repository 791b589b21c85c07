#include "bench/HostSession.h"

#include "bench/BenchOptions.h"

#include <csignal>
#include <filesystem>

HostSession::HostSession(const std::string &ns, Windows windows) : ns_(ns), windows_(windows)
{
    if (windows_ != Windows::Accessible)
        return;
    bus_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "ip", "netns", "exec", ns_, "dbus-daemon", "--session", "--nofork", "--print-address=1"});
    busAddress_ = bus_->line();
    if (!busAddress_.empty() && busAddress_.back() == '\n')
        busAddress_.pop_back();
    if (busAddress_.empty())
        fail("start a session bus");
    // A desktop session starts the accessibility bus launcher with the session, and a screen
    // reader tells it that it runs; the bridge connects only once the launcher is there.
    const auto call = [this](std::vector<std::string> message) {
        std::vector<std::string> command{"ip", "netns", "exec", ns_, "env", "DBUS_SESSION_BUS_ADDRESS=" + busAddress_,
                                         "dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                                         "/org/a11y/bus"};
        command.insert(command.end(), message.begin(), message.end());
        ChildProcess send(command);
        while (!send.line().empty()) {}
        return send.finish();
    };
    if (!call({"org.a11y.Bus.GetAddress"})
        || !call({"org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status", "string:ScreenReaderEnabled",
                  "variant:boolean:true"}))
        fail("start the accessibility bus");
    // This program (lan_bench) holds the stand-in's role.
    screenReader_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "ip", "netns", "exec", ns_, "env", "DBUS_SESSION_BUS_ADDRESS=" + busAddress_,
        std::filesystem::read_symlink("/proc/self/exe").string(), "--role", "screen-reader"});
    if (screenReader_->line() != "ready\n")
        fail("start the screen reader stand-in");
}

long HostSession::finishScreenReader()
{
    if (!screenReader_)
        return -1;
    kill(screenReader_->pid(), SIGTERM);
    const std::string events = screenReader_->line();
    const bool ended = screenReader_->finish();
    screenReader_.reset();
    return ended && !events.empty() ? std::atol(events.c_str()) : -1;
}

std::vector<std::string> HostSession::command(const std::vector<std::string> &role) const
{
    std::vector<std::string> command{"ip", "netns", "exec", ns_};
    if (windows_ != Windows::None) {
        command.insert(command.end(), {"env", "-u", "DBUS_SESSION_BUS_ADDRESS", "-u",
                                       "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "-u", "NO_AT_BRIDGE",
                                       "QT_QPA_PLATFORM=xcb"});
        if (windows_ == Windows::Accessible)
            command.insert(command.end(),
                           {"DBUS_SESSION_BUS_ADDRESS=" + busAddress_, "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"});
        else
            command.push_back("NO_AT_BRIDGE=1");
    }
    command.insert(command.end(), role.begin(), role.end());
    if (windows_ != Windows::None)
        command.insert(command.end(),
                       {"--platform", "xcb", "--a11y", windows_ == Windows::Accessible ? "on" : "off"});
    return command;
}
