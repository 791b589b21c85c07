#pragma once

#include <QString>
#include <QStringList>

// Two hosts joined by one cable: two named network namespaces (ip netns) joined by a veth pair
// whose end in each is called eth0, with the addresses 10.77.0.1/24 and 10.77.0.2/24. Nothing
// of it is in the calling process's namespace. The destructor removes both namespaces (and with
// them the pair); names carry this process's id, and namespaces left behind by a process that
// no longer runs are removed when the next link is made. Needs root.
class VethLink {
public:
    static constexpr int Hosts = 2;

    VethLink();
    ~VethLink();
    VethLink(const VethLink &) = delete;
    VethLink &operator=(const VethLink &) = delete;

    // Why the link could not be made; empty when it was.
    QString unavailable() const { return unavailable_; }
    // Host 0 or 1: its namespace's name and its address (without prefix length).
    QString namespaceName(int host) const { return namespaces_.value(host); }
    static QString address(int host);

private:
    QStringList namespaces_;
    QString unavailable_;
};
