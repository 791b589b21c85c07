#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTime>
#include <functional>
#include <memory>
#include <optional>

#include "net/DatagramIntake.h"

class QSocketNotifier;

// The datagram endpoint: one non-blocking UDP socket, bound to BindAddress:LocalPort to
// receive, and used to send each datagram to RemoteHost:RemotePort. Readiness arrives through
// a socket notifier on the owning thread's event loop; a host name is looked up while a nested
// event loop waits for the answer. Every event runs on the owning thread; only while that
// thread is busy does an intake thread move waiting datagrams out of the kernel's small queue
// (see DatagramIntake), so that a burst is not dropped behind a long handler.
class TZnUDP : public QObject {
    Q_OBJECT

public:
    // Size of the receive buffer: a longer datagram is received as a failure (-1).
    static constexpr int ReceiveBufferSize = 2048;
    // Most datagrams taken in at one wake-up, before the event loop gets its turn again.
    static constexpr int MaxDatagramsPerWakeUp = 64;

    // Creates the socket (not yet bound). Throws UDPSockError when no socket can be created.
    explicit TZnUDP(QObject *owner = nullptr);
    // Closes the socket.
    ~TZnUDP() override;

    // --- properties ---
    // Host name or dotted IPv4 address that sends go to; read anew by each send.
    QString RemoteHost;
    // Destination port of sends (its low 16 bits are used).
    int RemotePort = 0;
    // Highest status level that reaches OnStatus (levels 2, 8 and 16 are used).
    int ReportLevel = 1;
    // Address the socket binds in Loaded; set it before SetLocalPort.
    QString BindAddress = QStringLiteral("0.0.0.0");
    // Datagrams the intake holds at most while the owning thread is busy (see DatagramIntake);
    // read when the socket is bound.
    int IntakeLimit = DatagramIntake::DefaultQueueLimit;

    int LocalPort() const { return localPort_; }
    // Replaces the socket by a new one and binds it to BindAddress:Value (through Loaded),
    // also when Value is unchanged. Throws UDPSockError when no socket can be created.
    void SetLocalPort(int Value);
    // The port the socket is actually bound to, 0 while it is unbound (a failed bind is not
    // reported otherwise).
    int BoundPort() const;
    // Allows (or forbids again) sends to a broadcast address, on this socket and on those
    // SetLocalPort makes later. Forbidden by default.
    void SetBroadcast(bool on);
    // The last status text that passed ReportLevel, and the error number of the last error check.
    QString StatusText() const { return statusText_; }
    int LastError() const { return lastError_; }

    // --- events (an unassigned event is skipped) ---
    // One call per received datagram; NumberBytes is -1 for a failed receive (or a datagram
    // longer than ReceiveBufferSize), and FromIP is then empty and Port 0.
    std::function<void(TZnUDP *Sender, int NumberBytes, const QString &FromIP, int Port)> OnDataReceived;
    // A send asked with Length 0: the handler may fill Buff, set Length and Handled.
    std::function<void(bool &Handled, QByteArray &Buff, int &Length)> OnBufferInvalid;
    // RemoteHost could not be resolved: setting Handled retries the look-up once.
    std::function<void(bool &Handled)> OnInvalidHost;
    // After each send, whether or not it succeeded.
    std::function<void(TZnUDP *Sender)> OnDataSend;
    std::function<void(TZnUDP *Sender, const QString &Status)> OnStatus;
    // Senders of peer packets (Packet::send) pass each datagram through it, with the address
    // it goes to: it gives back what goes out instead (the datagram sealed), or nothing to
    // send nothing. Unset, datagrams go as they are. SendDatagram itself does not call it.
    std::function<std::optional<QByteArray>(const QString &Host, const QByteArray &Datagram)> OnSeal;
    // Just before a socket error is raised as UDPSockError.
    std::function<void(TZnUDP *Sender, quint16 ErrorNo, const QString &Text)> OnSocketError;

    // --- operations ---
    // Binds the socket to BindAddress:LocalPort (a failure is ignored) and arms read
    // notifications. A second call on a bound socket changes nothing.
    void Loaded();
    // Sends the first Length bytes of Buff (taken by value: copied at entry) as one datagram
    // to RemoteHost:RemotePort; never more than Buff holds. Throws Exception "Invalid buffer"
    // (Length 0 not repaired by OnBufferInvalid), UDPSockError "Host Lookup Canceled" or
    // "Null Remote Address". A failing sendto is not reported.
    void SendDatagram(QByteArray Buff, int Length);
    // Copies the last received datagram into Buff, at most Capacity bytes, and sets Length to
    // the number of bytes copied, or -1 after a failed receive. Does not consume: a second call
    // gives the same datagram.
    void ReadDatagram(char *Buff, int Capacity, int &Length) const;
    // The local time of day at which the datagrams of the current wake-up arrive: read once at
    // the first call during a wake-up and shared by every datagram taken in at it. Outside a
    // wake-up, the current time.
    QTime ReceiveTime();

private:
    void createSocket();
    void closeSocket();
    void receivePending();
    void receiveGuarded();
    bool receiveStep();
    quint32 resolveRemoteHost(QString name);
    bool lookUpHost(const QString &name, quint32 &address);
    void errorCheck();
    QString errorText(int errorNumber);
    void reportStatus(int level, const QString &text);

    void startIntake();

    DatagramIntake::Datagram received_; // the datagram of the running OnDataReceived
    int receivedLength_ = 0;
    std::unique_ptr<DatagramIntake> intake_;
    QSocketNotifier *intakeNotifier_ = nullptr;
    // Wake-ups running (nested when a handler runs an event loop), and their time of day,
    // invalid until asked for.
    int wakeUps_ = 0;
    QTime receiveTime_;
    int localPort_ = 0;
    int socket_ = -1;
    bool broadcast_ = false;
    QSocketNotifier *notifier_ = nullptr;
    QString statusText_;
    int lastError_ = 0;
};
