// The zero-copy paths of the socket base's stream operations: a body sent from a regular file
// by sendfile(2) on a thread of its own, and a body received into a regular file by splice(2)
// through a pipe. Each
// reports when the system cannot serve it before any byte moved, and the caller then takes the
// path through the buffer.
#include "net/RIzarorozi.h"

#include "net/Exceptions.h"
#include "net/SendFileMover.h"
#include "net/SplicePipe.h"
#include "net/WinsockErrno.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <exception>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

bool cannotServe(int error) { return error == EINVAL || error == ENOSYS; }

QString systemText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

} // namespace

// Sends size bytes of file from offset. The bytes move on a thread of their own (or on this
// one, when it waits directly), while this thread's event loop runs: progress reaches
// OnPacketSent when the first bytes went out, then at most every ProgressInterval ms, and once
// more at the end. False, with nothing sent, when the system cannot send from this file.
bool RIzarorozi::sendFile(int file, qint64 offset, qint64 size)
{
    SendFileMover mover({fd_, file, wakeFd_}, {cancel_, bytesSent_, bytesZeroCopied_}, offset, size, StallTimeOut);
    if (!mover.valid())
        return false;
    if (moveBody(mover) == BodyMover::Outcome::Failed) {
        if (mover.cannotServe())
            return false;
        checkError(mover.error());
    }
    return true;
}

// Runs the mover to its end (on its thread while this thread's event loop runs, or here when
// waits are direct) and raises what an early end means; a failure is left to the caller, which
// knows its kinds. Done or cancelled: the caller looks at the cancel flag.
BodyMover::Outcome RIzarorozi::moveBody(BodyMover &mover)
{
    if (direct())
        mover.run();
    else
        awaitMover(mover);
    switch (mover.outcome()) {
    case BodyMover::Outcome::FileEnded:
        throw ESockError(u"Cannot read the stream: the file ended early"_s);
    case BodyMover::Outcome::Stalled:
        checkError(ETIMEDOUT);
        break;
    case BodyMover::Outcome::Halted:
        checkError(ENOTCONN);
        break;
    default:
        break;
    }
    return mover.outcome();
}

// Runs this thread's event loop until the mover has ended. A progress handler that raises
// cancels the move; its exception is raised here once the mover has stopped.
void RIzarorozi::awaitMover(BodyMover &mover)
{
    QSocketNotifier signalled(mover.signalDescriptor(), QSocketNotifier::Read);
    QTimer progress;
    progress.setInterval(ProgressInterval);
    qint64 reported = 0;
    std::exception_ptr raised;
    const auto reportProgress = [&] {
        const qint64 sent = bytesSent_.load(std::memory_order_relaxed);
        if (sent == reported || !OnPacketSent || raised)
            return;
        reported = sent;
        try {
            OnPacketSent(this);
        } catch (...) {
            raised = std::current_exception();
            Cancel();
        }
    };
    connect(&signalled, &QSocketNotifier::activated, this, [&] {
        quint64 count = 0;
        while (::read(mover.signalDescriptor(), &count, sizeof count) > 0) {}
        reportProgress();
        if (!mover.finished() && !progress.isActive())
            progress.start();
    });
    connect(&progress, &QTimer::timeout, this, reportProgress);
    mover_ = &mover;
    mover.start();
    while (!mover.finished())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    mover.stop();
    mover_ = nullptr;
    progress.stop();
    reportProgress();
    if (raised) {
        cancel_ = false;
        std::rethrow_exception(raised);
    }
}

// Moves the body from the socket into file until the stream holds Size bytes, the peer closes
// or the socket is not connected. Each splice from the socket asks only for what is still
// missing, so bytes after the body stay on the socket. False, with what already arrived stored,
// when the pipe or the file cannot serve: the rest then goes through the buffer.
bool RIzarorozi::spliceInto(QIODevice &Stream, int file, qint64 &held, qint64 Size)
{
    SplicePipe pipe(SplicePipeSize);
    if (!pipe.valid())
        return false;
    off_t at = off_t(Stream.pos());
    bool served = true;
    while (served && !cancel_ && held < Size) {
        const ssize_t k = pipe.fill(fd_, Size - held);
        if (k == 0)
            break;
        if (k < 0) {
            const int error = errno;
            if (error == EINTR)
                continue;
            if (cannotServe(error) && bytesZeroCopied_ == 0)
                return false;
            if (WinsockErrno::fromErrno(error) == 10057) {
                lastError_ = 10057;
                break;
            }
            checkError(error);
            waitSocket(false);
            continue;
        }
        const int failure = pipe.drainTo(file, at, k);
        if (failure == EINVAL) {
            Stream.seek(at);
            pipe.drainTo(Stream, k, buffer_.get(), BufferSize);
            served = false;
        } else if (failure != 0) {
            throw ESockError(u"Cannot write the received data: "_s + systemText(failure));
        } else {
            bytesZeroCopied_ += k;
        }
        held += k;
        blockReceived(k);
    }
    if (served)
        Stream.seek(at);
    return served;
}
