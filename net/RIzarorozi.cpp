#include "net/RIzarorozi.h"

#include "net/Exceptions.h"
#include "net/HostLookup.h"
#include "net/BodyMover.h"
#include "net/Swallow.h"
#include "net/TThreadTimer.h"
#include "net/WinsockErrno.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct ErrorEntry {
    int number;
    const char *message;
};

// The socket error messages by their Windows Sockets numbers.
constexpr ErrorEntry errorTable[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
};

// Errors of an accept that found no descriptor or no memory for the new connection: the
// connection stays pending, and trying again at once would only fail again.
bool descriptorShortage(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

int pendingSocketError(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}

} // namespace

RIzarorozi::OpScope::~OpScope()
{
    --socket_.opDepth_;
    socket_.armIdle();
}

RIzarorozi::TimeOutScope::~TimeOutScope()
{
    swallow([this] { socket_.TimerOff(); });
}

RIzarorozi::RIzarorozi(QObject *owner)
    : QObject(owner), buffer_(new char[BufferSize + 1]), timer_(new TThreadTimer(this))
{
    timer_->setEnabled(false);
    timer_->setOnTimer([this](TThreadTimer *) { TimerTriggered(); });
    // An eventfd, not QAbstractEventDispatcher::wakeUp: a connection thread's dispatcher dies with its thread
    // while Cancel may still come, and the sanitizer sees the fd hand-over.
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    // The first socket resets its connection when closed instead of closing it gracefully.
    if (wakeFd_ < 0 || !makeSocket(true)) {
        if (wakeFd_ >= 0)
            ::close(wakeFd_);
        throw ESockError(u"Initializaton of windows sockets failed"_s);
    }
}

RIzarorozi::~RIzarorozi()
{
    beginDestruction();
    Cancel();
    swallow([this] { RequestCloseSocket(); });
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void RIzarorozi::beginDestruction()
{
    destroying_ = true;
    swallow([this] { Abort(); });
}

bool RIzarorozi::makeSocket(bool linger)
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd_ < 0)
        return false;
    if (linger) {
        const struct linger option {
            1, 0
        };
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    }
    if (readNotifier_) {
        readNotifier_->setSocket(fd_);
        writeNotifier_->setSocket(fd_);
    }
    return true;
}

void RIzarorozi::ensureSocket()
{
    if (fd_ < 0 && !makeSocket(false))
        throw ESockError(u"Initializaton of windows sockets failed"_s);
}

// The notifiers belong to the thread the instance lives on and are made when first needed,
// so that a connection component moved to its own thread gets them there.
void RIzarorozi::ensureNotifiers()
{
    if (readNotifier_)
        return;
    readNotifier_ = new QSocketNotifier(QSocketNotifier::Read, this);
    writeNotifier_ = new QSocketNotifier(QSocketNotifier::Write, this);
    wakeNotifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
    wakeNotifier_->setEnabled(false);
    stallTimer_ = new QTimer(this);
    stallTimer_->setSingleShot(true);
    connect(stallTimer_, &QTimer::timeout, this, [this] { stalled_ = true; });
    acceptRetry_ = new QTimer(this);
    acceptRetry_->setSingleShot(true);
    connect(acceptRetry_, &QTimer::timeout, this, &RIzarorozi::retryAccepting);
    if (fd_ >= 0) {
        readNotifier_->setSocket(fd_);
        writeNotifier_->setSocket(fd_);
    }
    connect(readNotifier_, &QSocketNotifier::activated, this, &RIzarorozi::onReadActivated);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &RIzarorozi::onWriteActivated);
    connect(wakeNotifier_, &QSocketNotifier::activated, this, &RIzarorozi::onWakeActivated);
}

// Level-triggered notifiers behave like one-shot notifications here: each is disabled when it
// fires and armed again only after the call that consumes it (a receive, an accept), so a
// socket with unread bytes never keeps the event loop busy.
void RIzarorozi::armIdle()
{
    if (!readNotifier_ || fd_ < 0)
        return;
    bool on = false;
    if (waitRead_)
        on = true;
    else if (opDepth_ > 0)
        on = false;
    else if (listening_)
        on = listenOk_ && !acceptDisarmed_;
    else
        on = connected_ && !closeSeen_ && !readDisarmed_;
    readNotifier_->setEnabled(on);
}

void RIzarorozi::onReadActivated()
{
    readNotifier_->setEnabled(false);
    if (waitRead_) {
        readyRead_ = true;
        return;
    }
    if (listening_)
        acceptNotification();
    else if (opDepth_ == 0)
        idleReadNotification();
}

void RIzarorozi::acceptNotification()
{
    acceptDisarmed_ = true;
    succeeded_ = pendingSocketError(fd_) == 0;
    if (lookupMessage_) {
        eventArrived_ = true;
        return;
    }
    connected_ = true;
    if (OnAccept)
        swallow([this] { OnAccept(this); });
}

// Bytes or the end of the stream arrived while no operation reads. Bytes give OnDataAvailable;
// the end with nothing unread closes the socket. When the peer closed behind unread bytes,
// nothing is closed and no further notification follows: the reader finds the end itself.
void RIzarorozi::idleReadNotification()
{
    char byte = 0;
    const ssize_t n = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        readDisarmed_ = true;
        pollfd probe{fd_, POLLRDHUP, 0};
        if (::poll(&probe, 1, 0) > 0 && (probe.revents & (POLLRDHUP | POLLHUP)))
            closeSeen_ = true;
        if (OnDataAvailable)
            swallow([this] { OnDataAvailable(this); });
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        armIdle();
        return;
    }
    swallow([this] { RequestCloseSocket(); });
}

void RIzarorozi::onWriteActivated()
{
    writeNotifier_->setEnabled(false);
    if (!connecting_) {
        readyWrite_ = true;
        return;
    }
    const int error = pendingSocketError(fd_);
    succeeded_ = error == 0;
    if (!succeeded_) {
        lastError_ = WinsockErrno::fromErrno(error);
        return;
    }
    connected_ = true;
    if (OnConnect)
        swallow([this] { OnConnect(this); });
}

void RIzarorozi::onWakeActivated()
{
    quint64 count = 0;
    while (::read(wakeFd_, &count, sizeof count) > 0) {}
}

// Sleeps in this thread's event loop until done() holds. Each pass handles what arrived
// (notifiers, timer ticks, posted events, a wake-up from Cancel) and then checks again.
template <typename Done> void RIzarorozi::pumpUntil(Done done)
{
    ensureNotifiers();
    const bool wakeWasOn = wakeNotifier_->isEnabled();
    wakeNotifier_->setEnabled(true);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    wakeNotifier_->setEnabled(wakeWasOn);
    lastPump_.start();
}

// Between the blocks of a transfer: a pass over the event loop, so that handlers (a cancel, a
// time-out tick, the GUI) run while bytes are moving. One pass every 5 ms is enough for that.
// A thread that waits directly has nothing else to run between the blocks.
void RIzarorozi::pumpNow()
{
    if (direct() || (lastPump_.isValid() && lastPump_.elapsed() < 5))
        return;
    QCoreApplication::processEvents();
    lastPump_.start();
}

void RIzarorozi::waitSocket(bool forWrite)
{
    if (direct()) {
        waitDirectly(forWrite);
        return;
    }
    ensureNotifiers();
    const quint64 generation = generation_;
    bool &waiting = forWrite ? waitWrite_ : waitRead_;
    bool &ready = forWrite ? readyWrite_ : readyRead_;
    QSocketNotifier *notifier = forWrite ? writeNotifier_ : readNotifier_;
    waiting = true;
    ready = false;
    notifier->setEnabled(true);
    startStallTimer();
    pumpUntil([&] { return ready || cancel_ || stalled_ || generation != generation_; });
    stallTimer_->stop();
    waiting = false;
    notifier->setEnabled(false);
    armIdle();
    const bool stalled = stalled_ && !ready && !cancel_ && generation == generation_;
    stalled_ = false;
    if (stalled)
        checkError(ETIMEDOUT);
}

// Blocks this thread until the socket is ready, Cancel wakes it or StallTimeOut passes without
// the socket becoming ready: one poll(2), no event loop. A wake-up left over from an earlier
// Cancel only makes the caller look at the socket once more.
void RIzarorozi::waitDirectly(bool forWrite)
{
    pollfd watched[2] = {{fd_, short(forWrite ? POLLOUT : POLLIN), 0}, {wakeFd_, POLLIN, 0}};
    const QDeadlineTimer stall = StallTimeOut > 0 ? QDeadlineTimer(StallTimeOut)
                                                  : QDeadlineTimer(QDeadlineTimer::Forever);
    while (!cancel_) {
        const int n = ::poll(watched, 2, stall.isForever() ? -1 : int(stall.remainingTime()));
        if (n > 0) {
            if (watched[1].revents != 0)
                onWakeActivated();
            return;
        }
        if (n == 0)
            checkError(ETIMEDOUT);
        else if (errno != EINTR)
            checkError(errno);
    }
}

void RIzarorozi::startStallTimer()
{
    stalled_ = false;
    if (StallTimeOut > 0)
        stallTimer_->start(StallTimeOut);
}

void RIzarorozi::report(int level, const QString &text)
{
    if (level > ReportLevel)
        return;
    statusText_ = text;
    if (!destroying_ && OnStatus)
        swallow([&] { OnStatus(this, text); });
}

void RIzarorozi::TimerOn()
{
    report(8, u"Timer On"_s);
    timedOut_ = false;
    timer_->setInterval(unsigned(qMax(0, TimeOut)));
    timer_->setEnabled(true);
}

void RIzarorozi::TimerOff()
{
    report(8, u"Timer Off"_s);
    timer_->setEnabled(false);
}

void RIzarorozi::TimerTriggered()
{
    report(8, u"Timer Triggered"_s);
    TimerOff();
    timedOut_ = true;
    eventArrived_ = true;
    Abort();
}

void RIzarorozi::Cancel()
{
    report(8, u"Canceling"_s);
    cancel_ = true;
    // Wakes a wait of this instance, also one running on another thread.
    const quint64 one = 1;
    if (wakeFd_ >= 0 && ::write(wakeFd_, &one, sizeof one) < 0) {
        // The counter is full only if nobody waits; the flag alone then suffices.
    }
}

void RIzarorozi::Abort()
{
    report(8, u"Abort"_s);
    Cancel();
}

void RIzarorozi::ResolveHost()
{
    report(8, u"Resolve Host"_s);
    const in_addr_t address = ::inet_addr(Host.toLatin1().constData());
    if (address != INADDR_NONE) {
        remote_.sin_addr.s_addr = address;
        return;
    }
    remote_.sin_addr.s_addr = 0;
    TimeOutScope timeOut(*this);
    eventArrived_ = false;
    lookUpName();
    if (timedOut_)
        throw ESockError(u"Host Lookup Timed Out"_s);
    if (cancel_)
        throw ESockError(u"Host Lookup Canceled"_s);
    if (lookupFailed_)
        throw ESockError(u"Host Lookup Failed"_s);
    remote_.sin_addr.s_addr = htonl(lookupAddress_);
    if (OnHostResolved)
        OnHostResolved(this);
}

// Looks Host up on a helper thread and waits for the answer, the time-out or a cancel. The
// first IPv4 address of the answer counts; an answer without one is a failure.
void RIzarorozi::lookUpName()
{
    HostLookup lookup(Host);
    connect(&lookup, &HostLookup::finished, this, [this] { eventArrived_ = true; });
    pumpUntil([&] { return eventArrived_ || timedOut_ || cancel_; });
    lookupAddress_ = lookup.address();
    lookupFailed_ = lookupAddress_ == 0;
}

void RIzarorozi::Connect()
{
    report(8, u"Connecting"_s);
    cancel_ = false;
    if (connected_)
        throw ESockError(u"Already connected"_s);
    tlsSuite_.clear();
    for (int attempts = 0;; ++attempts) {
        try {
            ResolveHost();
        } catch (const ESockError &e) {
            if (e.message() != u"Host Lookup Failed"_s)
                throw;
        }
        if (remote_.sin_addr.s_addr != 0)
            break;
        if (attempts > 0 || !OnInvalidHost)
            throw ESockError(u"Null Remote Address"_s);
        bool handled = false;
        OnInvalidHost(handled);
        if (!handled)
            throw ESockError(u"Null Remote Address"_s);
    }
    if (Port < 0 || Port > 65535)
        throw ESockError(u"Invalid port"_s);
    remote_.sin_family = AF_INET;
    remote_.sin_port = htons(quint16(Port));
    connectSocket();
}

void RIzarorozi::connectSocket()
{
    ensureSocket();
    ensureNotifiers();
    OpScope op(*this);
    eventArrived_ = false;
    succeeded_ = true;
    bindOutgoing();
    if (::connect(fd_, reinterpret_cast<const sockaddr *>(&remote_), sizeof remote_) == 0) {
        connected_ = true;
        if (OnConnect)
            swallow([this] { OnConnect(this); });
        return;
    }
    const int error = errno;
    if (error == ECONNREFUSED) {
        // Refused at once, as loopback may do: the same as a failed completion.
        succeeded_ = false;
        lastError_ = WinsockErrno::fromErrno(error);
    } else if (error != EINPROGRESS && error != EINTR) {
        checkError(error);
    }
    {
        TimeOutScope timeOut(*this);
        const quint64 generation = generation_;
        connecting_ = true;
        writeNotifier_->setEnabled(succeeded_);
        startStallTimer();
        pumpUntil([&] {
            return connected_ || timedOut_ || cancel_ || stalled_ || !succeeded_ || generation != generation_;
        });
        stallTimer_->stop();
        if (stalled_ && !connected_)
            timedOut_ = true;
        stalled_ = false;
        connecting_ = false;
        if (generation == generation_)
            writeNotifier_->setEnabled(false);
    }
    if (!connected_)
        raiseConnectFailure();
}

// A connection leaves from BindAddress, so that the peer sees the address this instance's
// datagrams come from. A failed bind leaves the choice to the system, as the wildcard does.
void RIzarorozi::bindOutgoing()
{
    sockaddr_in own{};
    own.sin_family = AF_INET;
    const QByteArray address = BindAddress.toLatin1();
    if (::inet_pton(AF_INET, address.constData(), &own.sin_addr) != 1 || own.sin_addr.s_addr == INADDR_ANY)
        return;
    [[maybe_unused]] const int bound = ::bind(fd_, reinterpret_cast<const sockaddr *>(&own), sizeof own);
}

void RIzarorozi::raiseConnectFailure()
{
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (timedOut_)
        throw ESockError(u"Connection Timed out"_s);
    if (cancel_)
        throw ESockError(u"Connection Canceled"_s);
    throw ESockError(u"Connection Failed"_s);
}

void RIzarorozi::Disconnect()
{
    report(8, u"Disconnecting"_s);
    RequestCloseSocket();
}

void RIzarorozi::closeHandle()
{
    // A body still moving on its own thread ends before its socket goes; a TLS session in good
    // order tells the peer that it ends (close_notify), without waiting for an answer.
    if (mover_)
        mover_->stop();
    if (tls_) {
        tls_->shutdown();
        tls_.reset();
    }
    if (readNotifier_) {
        readNotifier_->setEnabled(false);
        writeNotifier_->setEnabled(false);
        acceptRetry_->stop();
    }
    const int fd = fd_;
    fd_ = -1;
    ++generation_;
    listening_ = false;
    listenOk_ = false;
    closeSeen_ = false;
    readDisarmed_ = false;
    acceptDisarmed_ = false;
    if (::close(fd) != 0 && errno != EINTR)
        checkError(errno);
}

void RIzarorozi::RequestCloseSocket()
{
    report(4, u"Request Close Socket"_s);
    connected_ = false;
    if (fd_ < 0)
        return;
    closeHandle();
    if (!destroying_ && OnDisconnect)
        OnDisconnect(this);
    if (!destroying_ && !singleUse_)
        makeSocket(false);
}

void RIzarorozi::closeListener()
{
    if (fd_ >= 0 && listening_)
        closeHandle();
}

void RIzarorozi::Listen(bool UseLookupMessage)
{
    report(8, u"Listening"_s);
    if (Port < 0 || Port > 65535)
        throw ESockError(u"Invalid port"_s);
    remote_ = sockaddr_in{};
    remote_.sin_family = AF_INET;
    remote_.sin_addr.s_addr = ::inet_addr(BindAddress.toLatin1().constData());
    remote_.sin_port = htons(quint16(Port));
    eventArrived_ = false;
    ensureSocket();
    ensureNotifiers();
    // Lets a new listener take the port while old connections on it linger in TIME_WAIT;
    // two listeners still cannot share it.
    const int reuse = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    // Failures of bind and listen are not reported: the server then never sees a connection.
    listenOk_ = ::bind(fd_, reinterpret_cast<const sockaddr *>(&remote_), sizeof remote_) == 0
        && ::listen(fd_, 1) == 0;
    if (!listenOk_)
        lastError_ = WinsockErrno::fromErrno(errno);
    listening_ = true;
    lookupMessage_ = UseLookupMessage;
    acceptDisarmed_ = false;
    armIdle();
}

int RIzarorozi::Accept()
{
    report(4, u"Accepting"_s);
    pumpUntil([this] { return eventArrived_ || cancel_; });
    if (cancel_)
        throw ESockError(u"Accepting Canceled"_s);
    if (!succeeded_)
        throw ESockError(u"Error creating Data Connection"_s);
    eventArrived_ = false;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int socket = ::accept4(fd_, reinterpret_cast<sockaddr *>(&peer), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
    const int error = errno;
    if (socket < 0 && descriptorShortage(error)) {
        // The listener stays readable while the connection is pending: notifications stay
        // off until the back-off has passed, so that the loop does not spin on it.
        acceptDisarmed_ = true;
        acceptRetry_->start(qMax(1, AcceptBackOff));
    } else {
        acceptDisarmed_ = false;
        armIdle();
    }
    if (socket < 0) {
        checkError(error);
        throw ESockError(u"Error creating Data Connection"_s);
    }
    remote_ = peer;
    return socket;
}

void RIzarorozi::retryAccepting()
{
    acceptDisarmed_ = false;
    armIdle();
}

void RIzarorozi::adoptConnectedSocket(int socket, const sockaddr_in &peer)
{
    closeHandle();
    fd_ = socket;
    // An accepted socket inherits the listener's linger setting; it closes gracefully, so the
    // peer sees the end of the stream rather than a reset.
    const struct linger graceful {
        0, 0
    };
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &graceful, sizeof graceful);
    remote_ = peer;
    connected_ = true;
    tlsSuite_.clear();
}

bool RIzarorozi::DataAvailable()
{
    report(8, u"Data Available"_s);
    return fd_ >= 0 && ::recv(fd_, buffer_.get(), 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

QString RIzarorozi::RemoteAddress() const
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &remote_.sin_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

quint16 RIzarorozi::RemotePort() const { return ntohs(remote_.sin_port); }

void RIzarorozi::checkError(int posixErrno)
{
    const int error = WinsockErrno::fromErrno(posixErrno);
    lastError_ = error;
    if (error == 0 || error == WinsockErrno::WouldBlock)
        return;
    const QString text = ErrorText(error);
    if (OnSocketError)
        swallow([&] { OnSocketError(this, quint16(error), text); });
    throw ESockError(text);
}

QString RIzarorozi::ErrorText(int error, const QString &incoming)
{
    report(8, u"Looking Up Error Message"_s + incoming);
    return SocketErrorText(error);
}

QString RIzarorozi::SocketErrorText(int error)
{
    if (error != 0) {
        for (const ErrorEntry &entry : errorTable) {
            if (entry.number == error)
                return QString::number(error) + u':' + QLatin1StringView(entry.message);
        }
    }
    return u"Unknown Error No. "_s + QString::number(error);
}
