#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A LAN made of network namespaces: one bridge in the calling process's network namespace and
// named namespaces (ip netns) joined to it by veth pairs, the end inside each namespace called
// eth0, eth1, ... so that presence takes it for a real interface. Everything it makes is
// removed again by the destructor; names carry this process's id, and namespaces left behind
// by a process that no longer runs are removed when the next one is made.
// It refuses to work in the machine's own network namespace (the bridge would join the
// machine's LAN): run it under scripts/isolated.sh, as root.
class BridgeNetwork {
public:
    // Namespaces and interfaces one network holds at most (interface names are short).
    static constexpr int MaxNamespaces = 200;

    BridgeNetwork();
    ~BridgeNetwork();
    BridgeNetwork(const BridgeNetwork &) = delete;
    BridgeNetwork &operator=(const BridgeNetwork &) = delete;

    // Why no network can be made here (not root, the machine's own namespace, ip netns not
    // allowed); empty when one was made.
    QString unavailable() const { return unavailable_; }
    QString bridgeName() const { return bridge_; }

    // A new namespace with its loopback interface up; its index, or -1 on failure.
    int addNamespace();
    // A new interface in namespace ns on the bridge with the given addresses ("10.88.0.1/24"),
    // each with its broadcast address. Returns the name of the veth end on the bridge side
    // (its counters show what the namespace sent), or an empty string on failure.
    QString addInterface(int ns, const QStringList &addresses);
    // Gives the bridge itself an address ("10.88.0.254/24"), so that this process can talk to
    // the namespaces' peers; false on failure.
    bool addBridgeAddress(const QString &address);
    // Gives every namespace permanent neighbour (ARP) entries for the addresses of every other
    // namespace on its subnets. The kernel's one neighbour table serves every namespace, and
    // by default holds 1024 learnt entries: fewer than fifty hosts that all talk to each other
    // need, and a send that finds it full is dropped in silence. Permanent entries do not
    // count. False when ip refused one.
    bool addStaticNeighbours();
    // The command that runs program with arguments inside namespace ns: ip netns exec ...
    QStringList command(int ns, const QString &program, const QStringList &arguments) const;
    QString namespaceName(int ns) const { return namespaces_.value(ns); }

    // Runs ip with the commands, one a line, in batch mode (inside namespace ns when given).
    static bool runIp(const QStringList &commands, const QString &ns = QString());
    // Removes the namespaces named prefix + PID + "-..." whose process has ended (killed
    // before its destructor ran).
    static void removeStale(const QString &prefix);

private:
    // One interface inside a namespace.
    struct Interface {
        int ns = 0;
        QString name; // eth0, eth1, ...
        QString mac;
        QStringList addresses; // with prefix length
    };
    static QString whyUnavailable();

    QString prefix_;
    QString bridge_;
    QString unavailable_;
    QStringList namespaces_;
    QList<int> interfaceCounts_; // per namespace
    QList<Interface> interfaces_;
    QStringList veths_; // bridge-side ends
};
