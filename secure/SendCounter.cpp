#include "secure/SendCounter.h"

#include "secure/PrivateFile.h"

#include <QDateTime>
#include <QDebug>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr char FileHeader[] = "talvino-counter 1\n";
constexpr qsizetype MaxFileSize = 64;

// The stored bound in a counter file's content, or 0 when the content is not a counter file.
quint64 parse(const QByteArray &content)
{
    if (!content.startsWith(FileHeader) || !content.endsWith('\n'))
        return 0;
    const QByteArray digits = content.sliced(sizeof(FileHeader) - 1).chopped(1);
    if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    bool ok = false;
    const quint64 bound = digits.toULongLong(&ok);
    return ok ? bound : 0;
}

} // namespace

SendCounter::SendCounter(QString path) : path_(std::move(path))
{
    if (path_.isEmpty())
        return;
    QByteArray content;
    QString error;
    switch (PrivateFile::read(path_, MaxFileSize, &content, &error)) {
    case PrivateFile::ReadResult::Missing: return;
    case PrivateFile::ReadResult::Read:
        if (const quint64 bound = parse(content)) {
            next_ = reserved_ = bound;
            return;
        }
        error = u"not a counter file: "_s + path_;
        break;
    case PrivateFile::ReadResult::Failed: break;
    }
    next_ = reserved_ = std::max<quint64>(1, quint64(QDateTime::currentMSecsSinceEpoch()) * 1000);
    qWarning().noquote() << error + u"; counting on from the clock"_s;
}

quint64 SendCounter::next()
{
    if (next_ >= reserved_)
        reserve();
    return next_++;
}

void SendCounter::reserve()
{
    reserved_ = next_ + Block;
    if (path_.isEmpty())
        return;
    QString error;
    const QByteArray content = FileHeader + QByteArray::number(reserved_) + '\n';
    if (!PrivateFile::write(path_, content, &error))
        qWarning().noquote() << error;
}
