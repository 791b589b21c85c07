#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QSocketNotifier;

// Keeps what crosses a bridge: every IPv4 packet that enters it through the given interfaces
// (a packet socket, outgoing copies ignored), its bytes kept up to a bound, so that a test can
// ask whether a marker ever crossed the wire in the clear. Needs root (CAP_NET_RAW).
class WireCapture : public QObject {
    Q_OBJECT
public:
    // Bytes kept at most; what comes after is counted but not kept (overflowed()).
    static constexpr qsizetype MaxKept = 256 << 20;

    explicit WireCapture(const QStringList &interfaces, QObject *parent = nullptr);
    ~WireCapture() override;

    bool isOpen() const { return fd_ >= 0; }
    // Takes in what waits on the socket now (it is read from the event loop too).
    void readAll();
    // Whether marker appears in any one packet seen so far.
    bool contains(const QByteArray &marker) const { return kept_.contains(marker); }
    // UDP datagrams to port 2928 seen so far whose payload begins with type.
    int datagrams(char type) const;
    // TCP payload bytes seen so far, to port or from port.
    qint64 tcpBytes(int port) const;
    // Whether frames were lost (the kernel dropped them, or the bound was reached): then the
    // absence of a marker proves nothing.
    bool lost() const;

private:
    void take(const unsigned char *ip, long length);

    int fd_ = -1;
    QSocketNotifier *notifier_ = nullptr;
    QList<int> indexes_;
    QByteArray kept_;
    bool overflowed_ = false;
    mutable int drops_ = 0;
    QHash<char, int> datagrams_;
    QHash<int, qint64> tcpBytes_;
};
