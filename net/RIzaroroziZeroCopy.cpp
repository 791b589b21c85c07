// The zero-copy paths of the socket base's stream operations: a body sent from a regular file
// by sendfile(2), and a body received into a regular file by splice(2) through a pipe. Each
// reports when the system cannot serve it before any byte moved, and the caller then takes the
// path through the buffer.
#include "net/RIzarorozi.h"

#include "net/Exceptions.h"
#include "net/SplicePipe.h"
#include "net/WinsockErrno.h"

#include <QIODevice>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <sys/sendfile.h>

using namespace Qt::Literals::StringLiterals;

namespace {

bool cannotServe(int error) { return error == EINVAL || error == ENOSYS; }

QString systemText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// sendfile(2) has no MSG_NOSIGNAL: SIGPIPE is blocked on this thread during the call and the one
// a closed peer raised is taken back, so that such a peer gives EPIPE as send does. A caller
// that blocks SIGPIPE itself keeps what it gets.
ssize_t sendFileQuietly(int socket, int file, off_t *at, size_t count)
{
    sigset_t pipeSignal, before;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
    const ssize_t n = ::sendfile(socket, file, at, count);
    const int error = errno;
    if (!sigismember(&before, SIGPIPE)) { // also after a count: the call may end short with EPIPE
        const timespec now{0, 0};
        while (::sigtimedwait(&pipeSignal, nullptr, &now) == SIGPIPE) {}
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = error;
    return n;
}

} // namespace

// Sends size bytes of file from offset, in pieces of at most SendFileChunk. False, with nothing
// sent, when the system cannot send from this file.
bool RIzarorozi::sendFile(int file, qint64 offset, qint64 size)
{
    off_t at = off_t(offset);
    const off_t end = at + off_t(size);
    while (at < end && !cancel_) {
        const ssize_t n = sendFileQuietly(fd_, file, &at, size_t(qMin<qint64>(end - at, SendFileChunk)));
        if (n > 0) {
            bytesZeroCopied_ += n;
            packetSent(n);
            continue;
        }
        if (n == 0) // the file is shorter than it was
            throw ESockError(u"Cannot read the stream: the file ended early"_s);
        const int error = errno;
        if (cannotServe(error) && bytesSent_ == 0)
            return false;
        if (error != EINTR) {
            checkError(error);
            waitSocket(true);
        }
    }
    return true;
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
