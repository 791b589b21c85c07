#include "history/LogReader.h"

#include "core/Gbk.h"
#include "history/LogStamp.h"

#include <QIODevice>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

QString decoded(QByteArrayView bytes)
{
    QString text = Gbk::decode(bytes.toByteArray());
    for (QChar &c : text) {
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F)
            c = QChar::ReplacementCharacter;
    }
    return text;
}

// The length of the longest start of data, at most about limit bytes, that ends between two
// GBK characters (a byte from 0x81 on leads a two-byte character).
qsizetype gbkPiece(const char *data, qsizetype available, qsizetype limit)
{
    qsizetype cut = 0;
    while (cut < limit && cut < available)
        cut += (uchar(data[cut]) >= 0x81 && cut + 1 < available) ? 2 : 1;
    return std::min(cut, available);
}

} // namespace

LogReader::LogReader(QIODevice &file, const LogStamp &stamps, QString buddy, QStringList knownNames,
                     qint64 fallbackTime)
    : file_(file), stamps_(stamps), buddy_(std::move(buddy)), knownNames_(std::move(knownNames)),
      fallbackTime_(fallbackTime)
{}

bool LogReader::fill()
{
    if (position_ > 0) {
        buffer_.remove(0, position_);
        position_ = 0;
    }
    const qsizetype had = buffer_.size();
    buffer_.resize(had + BlockBytes);
    const qint64 got = file_.read(buffer_.data() + had, BlockBytes);
    buffer_.resize(had + std::max<qint64>(got, 0));
    if (got <= 0)
        atEnd_ = true;
    return got > 0;
}

bool LogReader::readLine(QString *line, bool *continues)
{
    for (;;) {
        const char *data = buffer_.constData();
        const qsizetype size = buffer_.size();
        const qsizetype scanEnd = std::min(size, position_ + MaxLineBytes);
        qsizetype at = position_;
        while (at < scanEnd && data[at] != '\r' && data[at] != '\n')
            ++at;
        if (at < scanEnd) {
            // A CR at the end of what was read: whether an LF follows decides where the next
            // line starts.
            if (data[at] == '\r' && at + 1 == size && !atEnd_) {
                fill();
                continue;
            }
            const qsizetype next = (data[at] == '\r' && at + 1 < size && data[at + 1] == '\n') ? at + 2
                                                                                               : at + 1;
            *line = decoded(QByteArrayView(data + position_, at - position_));
            *continues = false;
            position_ = next;
            return true;
        }
        if (scanEnd - position_ >= MaxLineBytes) {
            const qsizetype piece = gbkPiece(data + position_, size - position_, MaxLineBytes);
            *line = decoded(QByteArrayView(data + position_, piece));
            *continues = true;
            position_ += piece;
            return true;
        }
        if (atEnd_) {
            if (position_ >= size)
                return false;
            *line = decoded(QByteArrayView(data + position_, size - position_));
            *continues = false;
            position_ = size;
            return true;
        }
        fill();
    }
}

bool LogReader::isHeader(const QString &line, QString *name, qint64 *time) const
{
    if (!line.endsWith(u']'))
        return false;
    const qsizetype open = line.lastIndexOf(u":["_s);
    if (open < 0)
        return false;
    const std::optional<qint64> stamp = stamps_.parse(
        QStringView(line).sliced(open + 2, line.size() - open - 3));
    if (!stamp)
        return false;
    const QString named = line.left(open);
    if (!afterEmptyLine_ && !knownNames_.contains(named))
        return false;
    *name = named;
    *time = *stamp;
    return true;
}

bool LogReader::take(LogEntry *entry, qint64 orphanTime)
{
    QString text = std::move(current_.text);
    current_.text.clear();
    firstLine_ = true;
    // The empty line that ends an entry, and any before it.
    while (text.endsWith(u"\r\n"_s))
        text.chop(2);
    if (text.isEmpty())
        return false;
    entry->name = haveHeader_ ? current_.name : buddy_;
    entry->time = haveHeader_ ? current_.time : orphanTime;
    entry->text = std::move(text);
    return true;
}

bool LogReader::next(LogEntry *entry)
{
    QString line;
    bool continues = false;
    for (;;) {
        const bool pieceOfLine = lineContinues_;
        if (!readLine(&line, &continues))
            return take(entry, fallbackTime_);
        lineContinues_ = continues;
        QString name;
        qint64 time = 0;
        if (!pieceOfLine && !continues && isHeader(line, &name, &time)) {
            const bool taken = take(entry, time);
            current_.name = name;
            current_.time = time;
            haveHeader_ = true;
            afterEmptyLine_ = false;
            if (taken)
                return true;
            continue;
        }
        if (!pieceOfLine && !firstLine_)
            current_.text += u"\r\n"_s;
        current_.text += line;
        firstLine_ = false;
        afterEmptyLine_ = !pieceOfLine && !continues && line.isEmpty();
        if (current_.text.size() >= MaxTextChars && take(entry, fallbackTime_))
            return true;
    }
}
