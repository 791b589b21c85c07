#include "net/SplicePipe.h"

#include "net/Exceptions.h"
#include "net/StreamFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

SplicePipe::SplicePipe(int size)
{
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0)
        return;
    out_ = ends[0];
    in_ = ends[1];
    ::fcntl(in_, F_SETPIPE_SZ, size);
    capacity_ = qMax(::fcntl(in_, F_GETPIPE_SZ), 4096);
}

SplicePipe::~SplicePipe()
{
    if (in_ >= 0) {
        ::close(in_);
        ::close(out_);
    }
}

ssize_t SplicePipe::fill(int socket, qint64 count)
{
    return ::splice(socket, nullptr, in_, nullptr, size_t(qMin(count, capacity_)),
                    SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
}

int SplicePipe::drainTo(int file, off_t &offset, qint64 count)
{
    const off_t start = offset;
    while (count > 0) {
        const ssize_t n = ::splice(out_, nullptr, file, &offset, size_t(count), SPLICE_F_MOVE);
        if (n > 0) {
            count -= n;
            continue;
        }
        const int error = n == 0 ? EIO : errno;
        if (error == EINTR)
            continue;
        // EINVAL means that this file cannot be spliced into; once bytes went, it is a failure.
        return error == EINVAL && offset != start ? EIO : error;
    }
    return 0;
}

void SplicePipe::drainTo(QIODevice &stream, qint64 count, char *buffer, qint64 bufferSize)
{
    while (count > 0) {
        const ssize_t n = ::read(out_, buffer, size_t(qMin(count, bufferSize)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ESockError(u"Cannot write the received data"_s);
        StreamFiles::writeAll(stream, buffer, n);
        count -= n;
    }
}
