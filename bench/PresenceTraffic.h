#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class QSocketNotifier;

// Counts the presence datagrams (UDP to port 2928 whose payload begins with "8") that enter
// the bridge through the given interfaces, by the interface they came in on and by their kind
// letter (H, A, K, G): a packet socket on every interface of this network namespace, outgoing
// copies ignored, so each datagram a namespace sends, broadcast or unicast, counts once.
// Needs root (CAP_NET_RAW).
class PresenceTraffic : public QObject {
    Q_OBJECT
public:
    // interfaces: the bridge-side veth ends to count (see BridgeNetwork::addInterface).
    explicit PresenceTraffic(const QStringList &interfaces, QObject *parent = nullptr);
    ~PresenceTraffic() override;

    bool isOpen() const { return fd_ >= 0; }
    // Datagrams that came in on interface, of kind (0: every kind).
    int count(const QString &interface, char kind = 0) const;
    // Datagrams on every counted interface, of kind (0: every kind).
    int total(char kind = 0) const;
    // Frames the kernel dropped because the socket's buffer was full (counts are low then).
    int drops() const;
    void reset();

signals:
    void datagram(const QString &interface, char kind);

private:
    void readAll();
    static char presenceKind(const unsigned char *ip, long length);

    int fd_ = -1;
    QSocketNotifier *notifier_ = nullptr;
    QHash<int, QString> names_;                  // interface index -> name
    QHash<QString, QHash<char, int>> counts_;    // name -> kind -> datagrams
    mutable int drops_ = 0;
};
