#pragma once

#include "net/Ipv4Address.h"

#include <QList>
#include <QString>

// One IPv4 address of one of this machine's interfaces.
struct Ipv4Interface {
    QString name; // the interface's own name (an address label's ":alias" is not part of it)
    Ipv4Address address;
    int prefixLength = 0;
    // The broadcast address the interface was given, else the address with every host bit set.
    Ipv4Address broadcast;
};

// This machine's IPv4 addresses on interfaces that are up and are not the loopback interface,
// one entry per address, in the system's order; empty when there are none or they cannot be
// read.
QList<Ipv4Interface> upIpv4Interfaces();
