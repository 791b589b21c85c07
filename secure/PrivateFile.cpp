#include "secure/PrivateFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

bool fail(QString *error, const QString &what, const QString &path)
{
    if (error)
        *error = what + u" "_s + path + u": "_s + QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// Makes the rename itself durable: the folder's entry list reaches the disk too.
void syncFolder(const QString &path)
{
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

PrivateFile::ReadResult PrivateFile::read(const QString &path, qsizetype maxSize, QByteArray *content,
                                          QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadResult::Missing;
        fail(error, u"cannot open"_s, path);
        return ReadResult::Failed;
    }
    // One byte more than allowed tells a file that is too long from one that fits exactly.
    content->resize(maxSize + 1);
    qsizetype size = 0;
    while (size < content->size()) {
        const ssize_t n = ::read(fd, content->data() + size, size_t(content->size() - size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            fail(error, u"cannot read"_s, path);
            ::close(fd);
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        size += n;
    }
    ::close(fd);
    content->resize(size);
    if (size > maxSize) {
        if (error)
            *error = u"too long to be ours: "_s + path;
        return ReadResult::Failed;
    }
    return ReadResult::Read;
}

bool PrivateFile::write(const QString &path, const QByteArray &content, QString *error)
{
    // mkostemp creates the file with mode 0600, so it is never readable by others, not even
    // before the first byte is written.
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(error, u"cannot create a file beside"_s, path);
    int failure = 0;
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0 || !writeAll(fd, content.constData(), content.size())
        || ::fsync(fd) != 0)
        failure = errno;
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure != 0) {
        ::unlink(temporary.constData());
        errno = failure;
        return fail(error, u"cannot write"_s, path);
    }
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const int renameErrno = errno;
        ::unlink(temporary.constData());
        errno = renameErrno;
        return fail(error, u"cannot replace"_s, path);
    }
    syncFolder(path);
    return true;
}

bool PrivateFile::append(const QString &path, const QByteArray &bytes, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(error, u"cannot open"_s, path);
    const bool written = writeAll(fd, bytes.constData(), bytes.size());
    if (!written)
        fail(error, u"cannot write"_s, path);
    ::close(fd);
    return written;
}
