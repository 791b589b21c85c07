#include "core/IniFile.h"

#include "core/Gbk.h"
#include "net/Exceptions.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

QByteArray trimmedBlanks(const QByteArray &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool sameName(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (asciiLower(a.at(i)) != asciiLower(b.at(i)))
            return false;
    return true;
}

QByteArray nameBytes(const QString &name) { return Gbk::encode(name); }

// A key written by this program's numbering: decimal digits, no sign, no leading zero.
std::optional<qint64> canonicalNumber(const QByteArray &key)
{
    if (key.isEmpty() || key.size() > 18 || key.at(0) == '0')
        return std::nullopt;
    qint64 value = 0;
    for (char c : key) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

qint64 nanoseconds(const timespec &t) { return qint64(t.tv_sec) * 1000000000 + t.tv_nsec; }

} // namespace

// ---------------------------------------------------------------- Contents

IniFile::Contents IniFile::Contents::parse(const QByteArray &bytes)
{
    Contents contents;
    if (bytes.isEmpty())
        return contents;
    QList<QByteArray> rawLines = bytes.split('\n');
    if (rawLines.last().isEmpty())
        rawLines.removeLast(); // the file's final line end
    for (QByteArray raw : rawLines) {
        if (raw.endsWith('\r'))
            raw.chop(1);
        Line line;
        line.raw = raw;
        const QByteArray text = trimmedBlanks(raw);
        if (text.startsWith('[')) {
            const qsizetype close = text.indexOf(']');
            line.kind = Line::Section;
            line.name = trimmedBlanks(text.mid(1, close < 0 ? -1 : close - 1));
        } else if (const qsizetype eq = text.indexOf('='); eq > 0 && text.at(0) != ';') {
            line.kind = Line::Key;
            line.name = trimmedBlanks(text.left(eq));
            line.value = trimmedBlanks(text.mid(eq + 1));
        }
        contents.lines.append(line);
    }
    return contents;
}

QByteArray IniFile::Contents::serialize() const
{
    QByteArray bytes;
    for (const Line &line : lines)
        bytes += line.raw + "\r\n";
    return bytes;
}

qsizetype IniFile::Contents::findSection(const QByteArray &section) const
{
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (lines[i].kind == Line::Section && sameName(lines[i].name, section))
            return i;
    return -1;
}

qsizetype IniFile::Contents::sectionEnd(qsizetype header) const
{
    qsizetype i = header + 1;
    while (i < lines.size() && lines[i].kind != Line::Section)
        ++i;
    return i;
}

qsizetype IniFile::Contents::findKey(qsizetype header, const QByteArray &key) const
{
    const qsizetype end = sectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i)
        if (lines[i].kind == Line::Key && sameName(lines[i].name, key))
            return i;
    return -1;
}

std::optional<QByteArray> IniFile::Contents::value(const QString &section, const QString &key) const
{
    const qsizetype header = findSection(nameBytes(section));
    if (header < 0)
        return std::nullopt;
    const qsizetype line = findKey(header, nameBytes(key));
    if (line < 0)
        return std::nullopt;
    return lines[line].value;
}

int IniFile::Contents::integer(const QString &section, const QString &key, int def) const
{
    const std::optional<QByteArray> text = value(section, key);
    if (!text)
        return def;
    bool ok = false;
    const int number = text->toInt(&ok, 10);
    return ok ? number : 0;
}

QList<std::pair<qint64, QByteArray>> IniFile::Contents::numberedValues(const QString &section,
                                                                       qint64 upTo) const
{
    QList<std::pair<qint64, QByteArray>> result;
    const qsizetype header = findSection(nameBytes(section));
    if (header < 0)
        return result;
    const qsizetype end = sectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i) {
        if (lines[i].kind != Line::Key)
            continue;
        const std::optional<qint64> number = canonicalNumber(lines[i].name);
        if (number && *number <= upTo)
            result.append({*number, lines[i].value});
    }
    // Ascending by number; a stable sort keeps the first occurrence of a repeated key first.
    std::stable_sort(result.begin(), result.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    auto repeated = std::unique(result.begin(), result.end(),
                                [](const auto &a, const auto &b) { return a.first == b.first; });
    result.erase(repeated, result.end());
    return result;
}

std::optional<QByteArray> IniFile::Contents::keyWithValue(const QString &section, const QByteArray &value) const
{
    const qsizetype header = findSection(nameBytes(section));
    if (header < 0)
        return std::nullopt;
    const qsizetype end = sectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i)
        if (lines[i].kind == Line::Key && lines[i].value == value)
            return lines[i].name;
    return std::nullopt;
}

// ---------------------------------------------------------------- IniFile

IniFile::IniFile(const QString &path)
    : path_(QFileInfo(path).absoluteFilePath()), nativePath_(QFile::encodeName(path_))
{}

std::optional<IniFile::Version> IniFile::versionOf(const struct stat &info)
{
    if (!S_ISREG(info.st_mode))
        return std::nullopt;
    return Version{qint64(info.st_dev), qint64(info.st_ino), qint64(info.st_size), nanoseconds(info.st_mtim),
                   nanoseconds(info.st_ctim)};
}

std::optional<IniFile::Version> IniFile::currentVersion() const
{
    struct stat info {};
    if (::stat(nativePath_.constData(), &info) != 0)
        return std::nullopt;
    return versionOf(info);
}

IniFile::Contents IniFile::contents() const
{
    if (cachedVersion_ && currentVersion() == cachedVersion_)
        return cached_;
    ++generation_;
    cachedVersion_.reset();
    cached_ = {};
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // The version is taken before the bytes are read: a change in between is newer than the
    // version kept and is read again next time.
    struct stat info {};
    const bool known = ::fstat(file.handle(), &info) == 0;
    Contents contents = Contents::parse(file.readAll());
    if (known && file.error() == QFileDevice::NoError) {
        cachedVersion_ = versionOf(info);
        cached_ = contents;
    }
    return contents;
}

QByteArray IniFile::readString(const QString &section, const QString &key, const QByteArray &def) const
{
    return contents().value(section, key).value_or(def);
}

int IniFile::readInteger(const QString &section, const QString &key, int def) const
{
    return contents().integer(section, key, def);
}

QByteArray IniFile::withoutControlCharacters(QByteArray value)
{
    for (char &c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return value;
}

void IniFile::writeString(const QString &section, const QString &key, const QByteArray &value)
{
    const QByteArray sectionName = nameBytes(section);
    const QByteArray keyName = nameBytes(key);
    Contents contents = this->contents();
    Contents::Line line;
    line.kind = Contents::Line::Key;
    line.name = keyName;
    const QByteArray stored = withoutControlCharacters(value);
    line.value = trimmedBlanks(stored);
    line.raw = keyName + '=' + stored;

    qsizetype header = contents.findSection(sectionName);
    if (header < 0) {
        Contents::Line headerLine;
        headerLine.kind = Contents::Line::Section;
        headerLine.name = sectionName;
        headerLine.raw = '[' + sectionName + ']';
        contents.lines.append(headerLine);
        header = contents.lines.size() - 1;
    }
    const qsizetype existing = contents.findKey(header, keyName);
    if (existing >= 0) {
        contents.lines[existing] = line;
    } else {
        // After the section's last key, so that blank lines and comments stay where they were.
        qsizetype at = contents.sectionEnd(header);
        while (at > header + 1 && contents.lines[at - 1].kind == Contents::Line::Other
               && trimmedBlanks(contents.lines[at - 1].raw).isEmpty())
            --at;
        contents.lines.insert(at, line);
    }
    save(contents);
}

void IniFile::writeInteger(const QString &section, const QString &key, qint64 value)
{
    writeString(section, key, QByteArray::number(value));
}

void IniFile::deleteKey(const QString &section, const QString &key)
{
    Contents contents = this->contents();
    const qsizetype header = contents.findSection(nameBytes(section));
    if (header < 0)
        return;
    // Every line of the key goes: with only the first gone, a repeated key would read again.
    const QByteArray name = nameBytes(key);
    qsizetype line = contents.findKey(header, name);
    if (line < 0)
        return;
    for (; line >= 0; line = contents.findKey(header, name))
        contents.lines.removeAt(line);
    try {
        save(contents);
    } catch (const Exception &) {
        // Deleting a key reports no failure.
    }
}

void IniFile::eraseSection(const QString &section)
{
    const QByteArray name = nameBytes(section);
    Contents contents = this->contents();
    bool changed = false;
    for (qsizetype header = contents.findSection(name); header >= 0; header = contents.findSection(name)) {
        contents.lines.remove(header, contents.sectionEnd(header) - header);
        changed = true;
    }
    if (changed)
        save(contents);
}

void IniFile::save(const Contents &contents) const
{
    // Written beside the old file and renamed over it, so that a failed write leaves the old
    // contents (and the stored nickname) in place. Unbuffered, so that a short write (a full
    // disk) shows in write()'s result instead of being lost in the final flush.
    ++generation_;
    cachedVersion_.reset();
    cached_ = {};
    QSaveFile file(path_);
    const QByteArray bytes = contents.serialize();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(bytes) != bytes.size())
        throw Exception(u"Unable to write to %1"_s.arg(path_));
    struct stat written {};
    const bool known = ::fstat(file.handle(), &written) == 0;
    if (!file.commit())
        throw Exception(u"Unable to write to %1"_s.arg(path_));
    if (known)
        if (const std::optional<Version> tempVersion = versionOf(written))
            remember(*tempVersion, bytes);
}

void IniFile::remember(const Version &tempVersion, const QByteArray &bytes) const
{
    // Taking the name changes the status-change time, so the version is read again; when
    // another program replaced or rewrote the file meanwhile, nothing is kept.
    const std::optional<Version> now = currentVersion();
    if (!now || now->device != tempVersion.device || now->inode != tempVersion.inode
        || now->size != tempVersion.size || now->modifiedNs != tempVersion.modifiedNs)
        return;
    ++generation_;
    cachedVersion_ = now;
    cached_ = Contents::parse(bytes);
}
