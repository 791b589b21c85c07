#include "core/ChatLog.h"

#include "core/Gbk.h"
#include "net/Exceptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Room for a file name, in UTF-8 bytes: below the usual 255 with space for ".txt" and the
// suffix of the temporary file a save goes through.
constexpr int MaxNameBytes = 200;

bool unsafeInFileName(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'/' || u == u'\\' || u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

QString safeFileName(const QString &entry)
{
    QString name = entry;
    for (QChar &c : name) {
        if (unsafeInFileName(c))
            c = u'_';
    }
    while (name.toUtf8().size() > MaxNameBytes)
        name.chop(name.size() >= 2 && name.back().isLowSurrogate() ? 2 : 1);
    return name;
}

QString folder(const QString &appDir) { return appDir + u"/chatdat/"_s; }

// How many times an append opens the file: once more each time another writer renamed a new
// file over it between the open and the lock.
constexpr int AppendOpenAttempts = 3;

// A file opened for appending, closed (and so unlocked) when it goes.
class AppendedFile {
public:
    explicit AppendedFile(const QString &path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY,
                     0666))
    {}
    ~AppendedFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    AppendedFile(const AppendedFile &) = delete;
    AppendedFile &operator=(const AppendedFile &) = delete;

    bool isOpen() const { return fd_ >= 0; }

    bool lock() const
    {
        int result = 0;
        do
            result = ::flock(fd_, LOCK_EX);
        while (result < 0 && errno == EINTR);
        return result == 0;
    }

    // Whether path still names this file, or another one was renamed over it meanwhile.
    bool isNamed(const QString &path) const
    {
        struct stat held {};
        struct stat named {};
        return ::fstat(fd_, &held) == 0 && ::stat(QFile::encodeName(path).constData(), &named) == 0
            && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
    }

    // Adds bytes (locked), after CR LF when the file ends in the middle of a line. A write
    // that fails takes back what it wrote, so that nothing is added twice by a later attempt.
    bool appendOnNewLine(const QByteArray &bytes) const
    {
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
            return false;
        if (bytes.isEmpty())
            return true;
        QByteArray out;
        if (st.st_size > 0) {
            char last = 0;
            ssize_t got = 0;
            do
                got = ::pread(fd_, &last, 1, st.st_size - 1);
            while (got < 0 && errno == EINTR);
            if (got != 1)
                return false;
            if (last != '\r' && last != '\n')
                out = "\r\n";
        }
        out += bytes;
        if (writeAll(out))
            return true;
        (void)::ftruncate(fd_, st.st_size);
        return false;
    }

private:
    bool writeAll(const QByteArray &bytes) const
    {
        const char *data = bytes.constData();
        qsizetype left = bytes.size();
        while (left > 0) {
            const ssize_t written = ::write(fd_, data, size_t(left));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            data += written;
            left -= written;
        }
        return true;
    }

    int fd_;
};

} // namespace

namespace ChatLog {

QString fileName(const QString &appDir, const QString &entry)
{
    return folder(appDir) + safeFileName(entry) + u".txt"_s;
}

QString transcriptFileName(const QString &appDir) { return folder(appDir) + u"聊天室.txt"_s; }

QString read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(u"Cannot open file "_s + path);
    QString text = Gbk::decode(file.readAll());
    text.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n').replace(u"\n"_s, u"\r\n"_s);
    return text;
}

void write(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(Gbk::encode(text)) < 0 || !file.commit())
        throw Exception(u"Cannot create file "_s + path);
}

void append(const QString &path, const QString &text)
{
    const QByteArray bytes = Gbk::encode(text);
    QDir().mkpath(QFileInfo(path).absolutePath());
    for (int attempt = 0; attempt < AppendOpenAttempts; ++attempt) {
        const AppendedFile file(path);
        if (!file.isOpen() || !file.lock())
            break;
        if (!file.isNamed(path))
            continue;
        if (file.appendOnNewLine(bytes))
            return;
        break;
    }
    throw Exception(u"Cannot create file "_s + path);
}

} // namespace ChatLog
