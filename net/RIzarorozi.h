#pragma once

#include "secure/TlsSession.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <netinet/in.h>

#include "net/BodyMover.h"
class QIODevice;
class QSocketNotifier;
class QTimer;
class TThreadTimer;

// The base of the TCP stream components: one non-blocking TCP socket whose operations look
// blocking to their caller. While an operation waits (for a connection, a host look-up, room to
// send or bytes to read) it pumps the event loop of the thread it runs on and sleeps in it until
// a socket notifier, the time-out timer or a cancel wakes it, so an idle wait costs no CPU and
// the other handlers of that thread keep running. Readiness notifications and timer ticks belong
// to the thread the instance lives on; a QCoreApplication must exist.
//
// A descendant may run the connection inside TLS 1.3 (StartTls): the data operations then send
// and receive through the TLS session, with the same waits, time-outs and cancels.
//
// Failures raise ESockError with a fixed text, socket errors with "number:message" from the
// error table, TLS failures with "TLS: " and the reason; a cancelled operation raises
// EAbortError. Events are plain function members, called with the instance as Sender; an unset
// event is skipped.
class RIzarorozi : public QObject {
    Q_OBJECT
public:
    using Event = std::function<void(RIzarorozi *Sender)>;
    using StatusEvent = std::function<void(RIzarorozi *Sender, const QString &Status)>;
    using SocketErrorEvent = std::function<void(RIzarorozi *Sender, quint16 Error, const QString &Text)>;
    using InvalidHostEvent = std::function<void(bool &Handled)>;

    static constexpr int BufferSize = 65536;
    // A listener whose accept finds no free descriptor tries again after this many
    // milliseconds: often enough that a freed descriptor is soon used, seldom enough that a
    // listener stuck at the limit costs next to nothing.
    static constexpr int DefaultAcceptBackOff = 100;
    // A file body goes out by sendfile(2) on a thread of its own while the caller's event loop
    // runs; OnPacketSent then reports the progress when the first bytes went out and at most
    // once every this many milliseconds after, never per block (a person reads no more, and a
    // window or a screen reader that follows every block would slow the transfer down).
    static constexpr int ProgressInterval = 100;
    // The pipe a body is spliced through on its way from the socket into a file is asked for
    // this many bytes (the system's default limit for unprivileged pipes); one splice moves at
    // most what the pipe holds. Pipe pages are kernel memory, bound per connection by this size.
    static constexpr int SplicePipeSize = 1 << 20;

    explicit RIzarorozi(QObject *owner = nullptr);
    ~RIzarorozi() override;

    // Properties.
    QString Host;        // name or dotted IPv4 address for Connect
    int Port = 0;        // port to connect to or listen on
    int TimeOut = 0;     // milliseconds, 0 = no time-out
    int ReportLevel = 0; // highest status level passed to OnStatus
    // Local address that Listen binds, and that Connect leaves from unless it is the wildcard
    // 0.0.0.0 (the system then chooses, as it does when the bind fails).
    QString BindAddress = QStringLiteral("0.0.0.0");
    // Milliseconds that one wait on the socket (connecting, room to send, bytes to read) may
    // last without a byte moving before the operation fails with "Connection timed out";
    // 0 = no limit.
    int StallTimeOut = 0;
    int AcceptBackOff = DefaultAcceptBackOff; // milliseconds, see DefaultAcceptBackOff

    // Events.
    Event OnConnect;                // a connect completed without error (raised while Connect waits)
    Event OnDisconnect;             // the socket has been closed (not during destruction)
    InvalidHostEvent OnInvalidHost; // Host gave no address; set Handled for one more attempt
    Event OnHostResolved;           // a host name look-up succeeded
    StatusEvent OnStatus;           // status texts at levels up to ReportLevel
    Event OnConnectionFailed;       // Connect is about to raise its failure
    Event OnPacketSent;             // progress of SendStream: per send, coalesced for files (ProgressInterval)
    Event OnPacketRecvd;            // after each block that CaptureStream stores
    Event OnDataAvailable;          // bytes arrived while no operation was reading
    Event OnAccept;                 // a listening socket has a connection pending
    SocketErrorEvent OnSocketError; // just before a socket error is raised

    // Connection.
    virtual void Connect();    // resolve Host and connect to Host:Port; returns once connected
    virtual void Disconnect(); // close the socket (through RequestCloseSocket)
    void Listen(bool UseLookupMessage = false); // bind BindAddress:Port and listen (backlog 1)
    virtual int Accept();                       // accept one pending connection and return its socket
    void Cancel();                              // make the running (or next) wait end; thread-safe
    virtual void Abort();                       // report "Abort" and Cancel; descendants add to it
    void ResolveHost();                         // fill the remote address from Host
    void RequestCloseSocket();                  // close, raise OnDisconnect, make a fresh socket
    bool DataAvailable();                       // at least one byte is waiting

    // Data operations.
    void SendBuffer(const char *Buffer, int Count); // Count 0: up to the first zero byte
    void Write(const QByteArray &Text);             // sends Text up to its first zero byte
    void Writeln(const QByteArray &Text);           // Write(Text + CR LF)
    QByteArray Read(int Count);                     // exactly Count bytes; empty when the peer closed first
    QByteArray ReadLn();                            // one line with its line end; empty when the peer closed (not inside TLS)
    // What has arrived, up to Max bytes, straight into Into after waiting for at least one
    // byte; 0 when the peer closed. For a reader that keeps a buffer of its own.
    qint64 ReadAvailable(char *Into, qint64 Max);
    virtual void Transaction(const QByteArray &Command, QByteArray &Reply);
    void SendStream(QIODevice &Stream);                 // the whole (seekable) stream from its start
    void SendStream(QIODevice &Stream, qint64 Count);   // Count bytes from where Stream stands (a pipe too)
    void CaptureStream(QIODevice &Stream, qint64 Size); // until Stream holds Size bytes; -1: once

    // State.
    bool Connected() const { return connected_.load(); }
    bool Listening() const { return listening_ && listenOk_; }
    int Socket() const { return fd_; }
    qint64 BytesSent() const { return bytesSent_.load(std::memory_order_relaxed); }
    qint64 BytesTotal() const { return bytesTotal_.load(std::memory_order_relaxed); }
    qint64 BytesReceived() const { return bytesReceived_.load(std::memory_order_relaxed); }
    // Bytes of the running (or last) SendStream or CaptureStream that went between the socket
    // and a file without passing through this program: by sendfile(2) when the source is a
    // regular file, by splice(2) when the target is one. Other streams take the read and write
    // path, and this stays 0.
    qint64 BytesZeroCopied() const { return bytesZeroCopied_.load(std::memory_order_relaxed); }
    // The cipher suite of this connection's TLS session (standard name), empty for a plain one.
    QString TlsCipherSuite() const { return tlsSuite_; }
    int LastError() const { return lastError_; }
    QString StatusText() const { return statusText_; }
    QByteArray LastReply() const { return lastReply_; }
    int ReplyNumber() const { return replyNumber_; }
    QString RemoteAddress() const; // dotted IPv4 of the remote (or bind) address
    quint16 RemotePort() const;
    bool TimedOut() const { return timedOut_; }
    bool Canceled() const { return cancel_.load(); }

    // "number:message" from the error table, or "Unknown Error No. " and the number.
    static QString SocketErrorText(int error);

protected:
    // The error check: maps a POSIX errno, records it as the last error and raises ESockError
    // with its text unless it is 0 or "would block" (10035).
    void checkError(int posixErrno);
    QString ErrorText(int error, const QString &incoming = {});
    void report(int level, const QString &text);

    void TimerOn();
    void TimerOff();
    virtual void TimerTriggered();

    // Marks the instance as being destroyed (no more OnDisconnect, OnStatus or fresh sockets)
    // and runs the Abort of the calling class. Each destructor that overrides Abort calls it.
    void beginDestruction();
    bool destroying() const { return destroying_; }

    // Takes an accepted socket in place of the one the constructor made.
    void adoptConnectedSocket(int socket, const sockaddr_in &peer);
    const sockaddr_in &remoteAddress() const { return remote_; }
    // The instance serves one connection only: a close makes no fresh socket.
    void setSingleUse() { singleUse_ = true; }
    // The instance serves its connection on a thread of its own that has no other work: its
    // waits on the socket block in poll(2) on the socket and the cancel signal, not in the event
    // loop. Only while TimeOut is 0, since the time-out timer would not tick during such a wait.
    void setWaitsDirectly() { waitsDirectly_ = true; }
    void setEventArrived() { eventArrived_ = true; }
    void setBytesTotal(qint64 total) { bytesTotal_ = total; }
    // For a component that sends several bodies as one transfer: BytesSent starts at 0 against
    // total, and from here on SendStream adds to it instead of starting it afresh and leaves
    // BytesTotal as it is; bodies that go out of a buffer of the component's own are counted
    // with addBytesSent.
    void countBodiesTogether(qint64 total)
    {
        countBodiesTogether_ = true;
        bytesSent_ = 0;
        bytesTotal_ = total;
    }
    void addBytesSent(qint64 count) { bytesSent_ += count; }
    // Handles pending events, unless that was done a moment ago.
    void pumpNow();
    // Waits until the socket has bytes to read (or the peer closed), pumping the event loop.
    void waitReadable() { waitSocket(false); }
    // Closes a listening socket at once, without OnDisconnect: connections still pending on it
    // are refused. A later Listen starts afresh.
    void closeListener();

    // Runs the connection inside TLS 1.3 from here on, in role with keys: the handshake, with
    // the waits, the time-out, the stall time-out and the cancel of the other operations.
    // Raises ESockError ("TLS: " and the reason) when the peer is not the pinned one or the
    // handshake fails otherwise; the caller then disconnects. The session ends with the socket.
    void StartTls(TlsSession::Role role, const TlsKeys &keys);
    bool TlsStarted() const { return tls_ != nullptr; }
    // Inside TLS: takes and drops what arrives until the peer ends the session or the
    // connection, or the operation is cancelled.
    void awaitTlsClose();
    // Takes and drops whatever still arrives (inside TLS or not) until the peer closes or the
    // operation is cancelled: for a connection on which nothing else travels.
    void awaitPeerClose();

    char *buffer() { return buffer_.get(); }

private:
    // Marks an operation in progress: notifications of this socket are then left to the
    // operation, and idle notifications are armed again when the last operation ends.
    class OpScope {
    public:
        explicit OpScope(RIzarorozi &socket) : socket_(socket) { ++socket_.opDepth_; }
        ~OpScope();
        OpScope(const OpScope &) = delete;
        OpScope &operator=(const OpScope &) = delete;

    private:
        RIzarorozi &socket_;
    };

    // Arms the time-out for the lifetime of the scope; disarms it also when the scope raises.
    class TimeOutScope {
    public:
        explicit TimeOutScope(RIzarorozi &socket) : socket_(socket) { socket_.TimerOn(); }
        ~TimeOutScope();
        TimeOutScope(const TimeOutScope &) = delete;
        TimeOutScope &operator=(const TimeOutScope &) = delete;

    private:
        RIzarorozi &socket_;
    };

    bool makeSocket(bool linger);
    void ensureSocket();
    void ensureNotifiers();
    void armIdle();
    void onReadActivated();
    void onWriteActivated();
    void onWakeActivated();
    void idleReadNotification();
    void acceptNotification();
    void waitSocket(bool forWrite);
    void waitDirectly(bool forWrite);
    bool direct() const { return waitsDirectly_ && TimeOut <= 0; }
    void sendBody(QIODevice &Stream, qint64 size);
    void sendRead(QIODevice &Stream, qint64 size);
    bool sendFile(int file, qint64 offset, qint64 size);
    void awaitMover(BodyMover &mover);
    BodyMover::Outcome moveBody(BodyMover &mover);
    void packetSent(qint64 count);
    void receiveInto(QIODevice &Stream, qint64 held, qint64 Size);
    bool spliceInto(QIODevice &Stream, int file, qint64 &held, qint64 Size);
    void blockReceived(qint64 count);
    // Inside TLS (RIzaroroziTls.cpp).
    TlsSession &session();
    void tlsWait(TlsSession::Result result);
    [[noreturn]] void raiseTlsFailure();
    void tlsSend(const char *data, qint64 size);
    QByteArray tlsRead(int Count);
    void tlsSendBody(QIODevice &Stream, int file, qint64 start, qint64 size);
    bool tlsSendFile(int file, qint64 offset, qint64 size);
    void tlsSendRead(QIODevice &Stream, qint64 size);
    void tlsReceiveInto(QIODevice &Stream, qint64 held, qint64 Size);
    void startStallTimer();
    void retryAccepting();
    template <typename Done> void pumpUntil(Done done);
    void lookUpName();
    void connectSocket();
    void bindOutgoing();
    void raiseConnectFailure();
    void closeHandle();

    std::unique_ptr<char[]> buffer_;
    BodyMover *mover_ = nullptr; // the file body being sent, stopped before the socket closes
    std::unique_ptr<TlsSession> tls_; // the connection's TLS session, ended with the socket
    QString tlsSuite_;
    TThreadTimer *timer_ = nullptr;
    QSocketNotifier *readNotifier_ = nullptr;
    QSocketNotifier *writeNotifier_ = nullptr;
    QSocketNotifier *wakeNotifier_ = nullptr;
    QTimer *stallTimer_ = nullptr;  // single shot: StallTimeOut of the running wait
    QTimer *acceptRetry_ = nullptr; // single shot: AcceptBackOff after a descriptor shortage
    int fd_ = -1;
    int wakeFd_ = -1;
    quint64 generation_ = 0; // grows with every close, so waits notice a replaced socket

    std::atomic<bool> cancel_{false};
    std::atomic<bool> connected_{false};
    std::atomic<qint64> bytesSent_{0};
    std::atomic<qint64> bytesTotal_{0};
    std::atomic<qint64> bytesReceived_{0};
    std::atomic<qint64> bytesZeroCopied_{0};
    bool waitsDirectly_ = false;
    bool destroying_ = false;
    bool singleUse_ = false;
    bool countBodiesTogether_ = false;
    bool timedOut_ = false;
    bool eventArrived_ = false;
    bool succeeded_ = true;
    bool listening_ = false;
    bool listenOk_ = false;
    bool lookupMessage_ = false;
    bool connecting_ = false;
    bool stalled_ = false; // the running wait outlasted StallTimeOut
    bool waitRead_ = false;
    bool waitWrite_ = false;
    bool readyRead_ = false;
    bool readyWrite_ = false;
    bool readDisarmed_ = false;   // a read notification went out; the next one after a receive
    bool acceptDisarmed_ = false; // an accept notification went out; the next one after accept
    bool closeSeen_ = false;      // the peer closed while bytes were unread: no close follows
    int opDepth_ = 0;
    QElapsedTimer lastPump_;
    int lastError_ = 0;
    QString statusText_;
    QByteArray lastReply_;
    int replyNumber_ = 0;
    sockaddr_in remote_{};
    bool lookupFailed_ = false;
    quint32 lookupAddress_ = 0;
};
