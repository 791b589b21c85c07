#include "net/StreamFiles.h"

#include "net/Exceptions.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

int StreamFiles::regularFileHandle(QIODevice &stream)
{
    auto *file = qobject_cast<QFile *>(&stream);
    if (!file || !file->isOpen() || !file->flush())
        return -1;
    struct stat status {};
    const int handle = file->handle();
    if (handle < 0 || ::fstat(handle, &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    return handle;
}

void StreamFiles::writeAll(QIODevice &stream, const char *data, qint64 size)
{
    while (size > 0) {
        const qint64 n = stream.write(data, size);
        if (n <= 0)
            throw ESockError(u"Cannot write the received data: "_s + stream.errorString());
        data += n;
        size -= n;
    }
}

void StreamFiles::writeAll(int file, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(file, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ESockError(u"Cannot write the received data: "_s + QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC)));
        data += n;
        size -= n;
    }
}
