#include "bench/BridgeNetwork.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Named namespaces of every bridge network start with this, followed by the process id.
const QString NamespacePrefix = u"tlvnet"_s;
// Bridges and their veth ends start with this, followed by the process id.
const QString InterfacePrefix = u"tb"_s;
constexpr int IpTimeoutMs = 30'000;

// The test namespaces scripts/isolated.sh makes hold nothing but the loopback interface (and
// the interfaces of bridge networks made there before); a machine's own namespace holds its
// network cards, which a bridge network must never join.
bool namespaceOfItsOwn()
{
    // /proc/net is this process's namespace (/sys/class/net may be another's mount).
    QFile file(u"/proc/net/dev"_s);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QStringList interfaces;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.contains(':'))
            interfaces << QString::fromLatin1(line.left(line.indexOf(':')).trimmed());
    return std::all_of(interfaces.cbegin(), interfaces.cend(), [](const QString &name) {
        return name == u"lo"_s || name.startsWith(InterfacePrefix);
    });
}

// Whether address ("10.88.0.2/24") is in the subnet of one of addresses.
bool sameSubnet(const QStringList &addresses, const QString &address)
{
    const QHostAddress host(address.section(u'/', 0, 0));
    return std::any_of(addresses.cbegin(), addresses.cend(), [&](const QString &own) {
        return host.isInSubnet(QHostAddress::parseSubnet(own));
    });
}

} // namespace

BridgeNetwork::BridgeNetwork()
{
    unavailable_ = whyUnavailable();
    if (!unavailable_.isEmpty())
        return;
    removeStale(NamespacePrefix);
    const QString pid = QString::number(::getpid());
    prefix_ = NamespacePrefix + pid + u'-';
    bridge_ = InterfacePrefix + pid + u"br"_s;
    if (!runIp({u"link add "_s + bridge_ + u" type bridge"_s, u"link set "_s + bridge_ + u" up"_s})) {
        unavailable_ = u"ip link add type bridge was refused"_s;
        bridge_.clear();
    }
}

BridgeNetwork::~BridgeNetwork()
{
    // The veth pairs and the bridge go first, at once: a namespace's own interfaces are
    // removed in the background after it, so the next network could not reuse their names.
    QStringList commands;
    for (const QString &veth : std::as_const(veths_))
        commands << u"link del "_s + veth;
    if (!bridge_.isEmpty())
        commands << u"link del "_s + bridge_;
    for (const QString &name : std::as_const(namespaces_))
        commands << u"netns del "_s + name;
    if (!commands.isEmpty())
        runIp(commands);
}

QString BridgeNetwork::whyUnavailable()
{
    if (::geteuid() != 0)
        return u"needs root"_s;
    if (!namespaceOfItsOwn())
        return u"runs in the machine's own network namespace (use scripts/isolated.sh)"_s;
    return QString();
}

void BridgeNetwork::removeStale(const QString &prefix)
{
    QStringList commands;
    const QStringList names = QDir(u"/var/run/netns"_s).entryList({prefix + u'*'}, QDir::Files);
    for (const QString &name : names) {
        bool ok = false;
        const qint64 pid = name.mid(prefix.size()).section(u'-', 0, 0).toLongLong(&ok);
        if (ok && pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            commands << u"netns del "_s + name;
    }
    if (!commands.isEmpty())
        runIp(commands);
}

int BridgeNetwork::addNamespace()
{
    if (!unavailable_.isEmpty() || namespaces_.size() >= MaxNamespaces)
        return -1;
    const QString name = prefix_ + QString::number(namespaces_.size());
    if (!runIp({u"netns add "_s + name})) {
        if (namespaces_.isEmpty())
            unavailable_ = u"ip netns add was refused"_s;
        return -1;
    }
    namespaces_ << name;
    interfaceCounts_ << 0;
    if (!runIp({u"link set lo up"_s}, name))
        return -1;
    return int(namespaces_.size()) - 1;
}

QString BridgeNetwork::addInterface(int ns, const QStringList &addresses)
{
    if (ns < 0 || ns >= namespaces_.size())
        return QString();
    const QString name = namespaces_.at(ns);
    const QString inside = u"eth"_s + QString::number(interfaceCounts_.at(ns));
    const QString outside = bridge_.chopped(2) + u'v' + QString::number(veths_.size());
    // A locally administered address from the interface's number, known before it exists.
    const int number = int(veths_.size()) + 1;
    const QString mac = u"02:54:00:00:%1:%2"_s.arg(number >> 8, 2, 16, QChar(u'0')).arg(number & 0xFF, 2, 16, QChar(u'0'));
    const bool made = runIp({u"link add "_s + outside + u" type veth peer name "_s + inside + u" address "_s + mac
                                 + u" netns "_s + name,
                             u"link set "_s + outside + u" master "_s + bridge_,
                             u"link set "_s + outside + u" up"_s});
    if (!made)
        return QString();
    veths_ << outside;
    interfaces_ << Interface{ns, inside, mac, addresses};
    ++interfaceCounts_[ns];
    QStringList commands;
    for (const QString &address : addresses)
        commands << u"addr add "_s + address + u" brd + dev "_s + inside;
    commands << u"link set "_s + inside + u" up"_s;
    return runIp(commands, name) ? outside : QString();
}

bool BridgeNetwork::addBridgeAddress(const QString &address)
{
    return !bridge_.isEmpty() && runIp({u"addr add "_s + address + u" brd + dev "_s + bridge_});
}

bool BridgeNetwork::addStaticNeighbours()
{
    for (int ns = 0; ns < namespaces_.size(); ++ns) {
        QStringList commands;
        for (const Interface &own : std::as_const(interfaces_)) {
            if (own.ns != ns)
                continue;
            for (const Interface &other : std::as_const(interfaces_))
                for (const QString &address : other.addresses)
                    if (other.ns != ns && sameSubnet(own.addresses, address))
                        commands << u"neigh replace %1 lladdr %2 dev %3 nud permanent"_s.arg(
                            address.section(u'/', 0, 0), other.mac, own.name);
        }
        if (!commands.isEmpty() && !runIp(commands, namespaces_.at(ns)))
            return false;
    }
    return true;
}

QStringList BridgeNetwork::command(int ns, const QString &program, const QStringList &arguments) const
{
    return QStringList{u"ip"_s, u"netns"_s, u"exec"_s, namespaces_.value(ns), program} + arguments;
}

bool BridgeNetwork::runIp(const QStringList &commands, const QString &ns)
{
    QProcess ip;
    QStringList arguments;
    if (!ns.isEmpty())
        arguments << u"-n"_s << ns;
    arguments << u"-batch"_s << u"-"_s;
    ip.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ip.start(u"ip"_s, arguments);
    if (!ip.waitForStarted(IpTimeoutMs))
        return false;
    ip.write((commands.join(u'\n') + u'\n').toUtf8());
    ip.closeWriteChannel();
    return ip.waitForFinished(IpTimeoutMs) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
}
