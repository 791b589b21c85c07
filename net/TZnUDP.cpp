#include "net/TZnUDP.h"

#include "net/Exceptions.h"
#include "net/HostLookup.h"
#include "net/WinsockErrno.h"

#include <QEventLoop>
#include <QPointer>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QtDebug>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Longest host name the endpoint resolves; a longer one is refused like an unresolvable name.
constexpr int MaxHostNameLength = 127;

sockaddr_in ipv4Address(quint32 networkOrderAddress, int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port & 0xFFFF));
    address.sin_addr.s_addr = networkOrderAddress;
    return address;
}

} // namespace

TZnUDP::TZnUDP(QObject *owner) : QObject(owner) { createSocket(); }

TZnUDP::~TZnUDP() { closeSocket(); }

void TZnUDP::createSocket()
{
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket_ < 0)
        errorCheck();
    if (broadcast_)
        SetBroadcast(true);
}

void TZnUDP::SetBroadcast(bool on)
{
    broadcast_ = on;
    const int value = on ? 1 : 0;
    if (socket_ >= 0)
        (void)::setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &value, sizeof value);
}

void TZnUDP::closeSocket()
{
    delete notifier_;
    notifier_ = nullptr;
    delete intakeNotifier_;
    intakeNotifier_ = nullptr;
    intake_.reset(); // its thread ends before the socket goes
    if (socket_ >= 0)
        ::close(socket_);
    socket_ = -1;
}

void TZnUDP::SetLocalPort(int Value)
{
    closeSocket();
    createSocket();
    localPort_ = Value;
    Loaded();
}

void TZnUDP::Loaded()
{
    if (socket_ < 0)
        return;
    const sockaddr_in local = ipv4Address(::inet_addr(BindAddress.toLatin1().constData()), localPort_);
    // A failed bind (the port taken, or a second bind of a bound socket) is not reported:
    // the endpoint then receives nothing on that port but can still send.
    (void)::bind(socket_, reinterpret_cast<const sockaddr *>(&local), sizeof local);
    if (!notifier_) {
        notifier_ = new QSocketNotifier(qintptr(socket_), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { receiveGuarded(); });
    }
    if (!intake_ && BoundPort() != 0)
        startIntake();
}

void TZnUDP::startIntake()
{
    intake_ = std::make_unique<DatagramIntake>(socket_, ReceiveBufferSize, IntakeLimit);
    if (!intake_->running())
        return; // the endpoint reads alone
    intakeNotifier_ = new QSocketNotifier(qintptr(intake_->signalDescriptor()), QSocketNotifier::Read, this);
    connect(intakeNotifier_, &QSocketNotifier::activated, this, [this] {
        intake_->clearSignal();
        receiveGuarded();
    });
}

// Exceptions must not cross the event loop; OnDataReceived is expected to handle its own, so
// anything arriving here is only logged.
void TZnUDP::receiveGuarded()
{
    try {
        receivePending();
    } catch (const Exception &e) {
        qWarning() << "TZnUDP: unhandled exception in OnDataReceived:" << e.message();
    } catch (...) {
        qWarning() << "TZnUDP: unhandled exception in OnDataReceived";
    }
}

int TZnUDP::BoundPort() const
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (socket_ < 0 || ::getsockname(socket_, reinterpret_cast<sockaddr *>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

// Takes in the datagrams waiting on the socket, up to MaxDatagramsPerWakeUp, one
// OnDataReceived each. One datagram per turn of the event loop would put every repaint and
// timer of the windows between two datagrams, and under a burst the kernel's queue would
// overflow and drop datagrams; the cap keeps the windows alive under a flood. A handler may
// run a nested event loop (which takes in the next datagrams itself), rebind the endpoint or
// destroy it: the loop stops when the endpoint is gone.
void TZnUDP::receivePending()
{
    const QPointer<TZnUDP> self(this);
    // A nested wake-up reads the clock anew, and so does the rest of the outer one after it.
    ++wakeUps_;
    receiveTime_ = QTime();
    const auto ended = qScopeGuard([&] {
        if (self) {
            --wakeUps_;
            receiveTime_ = QTime();
        }
    });
    for (int i = 0; i < MaxDatagramsPerWakeUp; ++i) {
        if (!receiveStep() || !self)
            return;
    }
}

// Takes in one datagram, the oldest: one the intake moved, or else one from the socket; false
// when none was waiting.
bool TZnUDP::receiveStep()
{
    if (socket_ < 0)
        return false;
    const bool taken = intake_ ? intake_->take(received_)
                               : DatagramIntake::receive(socket_, ReceiveBufferSize, received_);
    if (!taken)
        return false; // a wake-up without a datagram: nothing was received
    const qint64 n = received_.length;
    const sockaddr_in &from = received_.from;
    const bool received = n >= 0 && n <= ReceiveBufferSize;
    receivedLength_ = received ? int(n) : -1;
    if (!OnDataReceived)
        return true;
    QString fromIp;
    int port = 0;
    if (received) {
        const quint32 a = ntohl(from.sin_addr.s_addr);
        fromIp = u"%1.%2.%3.%4"_s.arg(a >> 24).arg((a >> 16) & 0xFF).arg((a >> 8) & 0xFF).arg(a & 0xFF);
        port = ntohs(from.sin_port);
    }
    // A copy, so that a handler may reassign OnDataReceived while it runs.
    const auto handler = OnDataReceived;
    handler(this, receivedLength_, fromIp, port);
    return true;
}

void TZnUDP::ReadDatagram(char *Buff, int Capacity, int &Length) const
{
    if (receivedLength_ < 0) {
        Length = -1;
        return;
    }
    Length = std::max(0, std::min(receivedLength_, Capacity));
    if (Length > 0)
        std::memcpy(Buff, received_.bytes.constData(), size_t(Length));
}

QTime TZnUDP::ReceiveTime()
{
    if (wakeUps_ == 0)
        return QTime::currentTime();
    if (!receiveTime_.isValid())
        receiveTime_ = QTime::currentTime();
    return receiveTime_;
}

void TZnUDP::SendDatagram(QByteArray Buff, int Length)
{
    int attempts = 0;
    while (Length == 0) {
        bool handled = false;
        if (attempts >= 1 || !OnBufferInvalid)
            throw Exception(u"Invalid buffer"_s);
        OnBufferInvalid(handled, Buff, Length);
        if (!handled)
            throw Exception(u"Invalid buffer"_s);
        ++attempts;
    }
    const quint32 address = resolveRemoteHost(RemoteHost);
    if (address == 0)
        throw UDPSockError(u"Null Remote Address"_s);
    reportStatus(2, u"Sending Data"_s);
    const sockaddr_in remote = ipv4Address(address, RemotePort);
    // Never more than the buffer holds; a negative Length sends nothing.
    const qsizetype bytes = std::clamp<qsizetype>(Length, 0, Buff.size());
    if (Length > 0)
        (void)::sendto(socket_, Buff.constData(), size_t(bytes), 0,
                       reinterpret_cast<const sockaddr *>(&remote), sizeof remote);
    if (OnDataSend)
        OnDataSend(this);
}

// The address of name in network order: a dotted address directly, anything else through a
// host look-up, with one more try when OnInvalidHost handles a failure. name is a copy: a
// handler that changes RemoteHost affects only later sends.
quint32 TZnUDP::resolveRemoteHost(QString name)
{
    const QByteArray latin = name.toLatin1();
    const quint32 parsed = name.size() <= MaxHostNameLength ? ::inet_addr(latin.constData()) : INADDR_NONE;
    if (parsed != INADDR_NONE)
        return parsed;
    int attempts = 0;
    for (;;) {
        quint32 address = 0;
        if (lookUpHost(name, address))
            return address;
        if (attempts >= 1)
            throw UDPSockError(u"Host Lookup Canceled"_s);
        attempts = 1;
        bool handled = false;
        if (OnInvalidHost)
            OnInvalidHost(handled);
        if (!handled)
            throw UDPSockError(u"Host Lookup Canceled"_s);
    }
}

// Looks name up while a nested event loop runs, so other handlers go on meanwhile; the wait
// sleeps until the answer arrives. False when the name has no IPv4 address.
bool TZnUDP::lookUpHost(const QString &name, quint32 &address)
{
    if (name.isEmpty() || name.size() > MaxHostNameLength)
        return false;
    const QPointer<TZnUDP> self(this);
    QEventLoop loop;
    HostLookup lookup(name);
    connect(&lookup, &HostLookup::finished, &loop, &QEventLoop::quit);
    loop.exec();
    if (!self) // the endpoint was destroyed by a handler that ran during the wait
        throw UDPSockError(u"Host Lookup Canceled"_s);
    address = htonl(lookup.address());
    return lookup.address() != 0;
}

void TZnUDP::errorCheck()
{
    const int savedErrno = errno; // before a status handler can change it
    reportStatus(16, u"Checking Error In Error Manager"_s);
    const int e = WinsockErrno::fromErrno(savedErrno);
    lastError_ = e;
    if ((WinsockErrno::WouldBlock & e) != WinsockErrno::WouldBlock) {
        const QString text = errorText(e);
        if (OnSocketError)
            OnSocketError(this, quint16(e), text);
        throw UDPSockError(text);
    }
}

QString TZnUDP::errorText(int errorNumber)
{
    QString text;
    if (errorNumber != 0)
        text = u"Unknown Error No. "_s + QString::number(errorNumber);
    reportStatus(8, u"Looking Up Error Message"_s + text);
    return text;
}

void TZnUDP::reportStatus(int level, const QString &text)
{
    if (level > ReportLevel)
        return;
    statusText_ = text;
    if (OnStatus)
        OnStatus(this, text);
}
