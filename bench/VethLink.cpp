#include "bench/VethLink.h"

#include "bench/BridgeNetwork.h"

#include <csignal>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Named namespaces of every link start with this, followed by the process id.
const QString NamespacePrefix = u"tlvlan"_s;

} // namespace

VethLink::VethLink()
{
    if (::geteuid() != 0) {
        unavailable_ = u"needs root"_s;
        return;
    }
    BridgeNetwork::removeStale(NamespacePrefix);
    const QString prefix = NamespacePrefix + QString::number(::getpid()) + u'-';
    for (int host = 0; host < Hosts; ++host) {
        const QString name = prefix + QString::number(host);
        if (!BridgeNetwork::runIp({u"netns add "_s + name})) {
            unavailable_ = u"ip netns add was refused"_s;
            return;
        }
        namespaces_ << name;
    }
    // The pair is made in the first namespace and its second end moved into the other, so
    // that neither end ever appears in this process's namespace.
    const bool joined = BridgeNetwork::runIp({u"link add eth0 type veth peer name eth1"_s,
                                              u"link set eth1 netns "_s + namespaces_.at(1)},
                                             namespaces_.at(0))
                        && BridgeNetwork::runIp({u"link set eth1 name eth0"_s}, namespaces_.at(1));
    for (int host = 0; joined && host < Hosts; ++host)
        if (!BridgeNetwork::runIp({u"link set lo up"_s, u"addr add "_s + address(host) + u"/24 dev eth0"_s,
                                   u"link set eth0 up"_s},
                                  namespaces_.at(host)))
            unavailable_ = u"the link's addresses were refused"_s;
    if (!joined)
        unavailable_ = u"ip link add type veth was refused"_s;
}

QString VethLink::address(int host) { return u"10.77.0."_s + QString::number(host + 1); }

VethLink::~VethLink()
{
    QStringList commands;
    for (const QString &name : std::as_const(namespaces_))
        commands << u"netns del "_s + name;
    if (!commands.isEmpty())
        BridgeNetwork::runIp(commands);
}

