#include "fileset/Manifest.h"

#include "fileset/WireBytes.h"
#include "secure/Sodium.h"

#include <QHash>

#include <sodium.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QString encodingName(NameEncoding encoding)
{
    return encoding == NameEncoding::Gb18030 ? u"GB18030"_s : u"UTF-8"_s;
}

QString unsafe(const QString &path, const QString &why)
{
    return u"文件清单不安全：“%1”%2"_s.arg(NameText::shown(path), why);
}

QString invalid(const QString &why)
{
    return u"文件清单无效："_s + why;
}

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

bool hasUnpairedSurrogate(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            return true;
    }
    return false;
}

// The checks of the entries that depend on the entries before them: no path twice, and every
// entry in a folder listed before it.
class EntryOrder {
public:
    // Empty when entry may follow the entries seen so far; the refusal otherwise.
    QString admit(const ManifestEntry &entry)
    {
        if (kinds_.contains(entry.path))
            return unsafe(entry.path, u"出现了两次"_s);
        const qsizetype slash = entry.path.lastIndexOf(u'/');
        if (slash >= 0) {
            const auto parent = kinds_.constFind(entry.path.left(slash));
            if (parent == kinds_.cend())
                return unsafe(entry.path, u"所在的文件夹没有在它之前列出"_s);
            if (*parent == ManifestEntry::Kind::File)
                return unsafe(entry.path, u"位于一个文件之下"_s);
        }
        kinds_.insert(entry.path, entry.kind);
        return {};
    }

private:
    QHash<QString, ManifestEntry::Kind> kinds_;
};

// One entry off the reader: empty refusal and the entry, or the refusal.
QString readEntry(WireBytes::Reader &reader, NameEncoding encoding, ManifestEntry *entry)
{
    const quint8 kind = reader.read<quint8>();
    const quint16 pathSize = reader.read<quint16>();
    const QByteArrayView pathBytes = reader.take(pathSize);
    const auto size = reader.read<quint64>();
    const auto modified = reader.read<qint64>();
    if (reader.failed())
        return invalid(u"数据不完整"_s);
    if (kind > quint8(ManifestEntry::Kind::File))
        return invalid(u"含有未知的条目类型"_s);
    if (pathSize == 0 || pathSize > Manifest::MaxPathBytes)
        return invalid(u"含有长度超出范围的路径"_s);
    const std::optional<QString> path = NameText::decode(pathBytes, encoding);
    if (!path)
        return unsafe(NameText::shownBytes(pathBytes, encoding), u"不是有效的 "_s + encodingName(encoding) + u" 编码"_s);
    QString why;
    if (!Manifest::isSafePath(*path, &why))
        return unsafe(*path, why);
    entry->kind = ManifestEntry::Kind(kind);
    entry->path = *path;
    if (size > quint64(Manifest::MaxSize))
        return unsafe(*path, u"的大小超出范围"_s);
    if (entry->isFolder() && size != 0)
        return unsafe(*path, u"是文件夹，大小却不为 0"_s);
    entry->size = qint64(size);
    entry->modifiedMs = modified;
    return {};
}

} // namespace

qint64 Manifest::totalBytes() const
{
    qint64 total = 0;
    for (const ManifestEntry &e : entries)
        total += e.size;
    return total;
}

int Manifest::fileCount() const
{
    return int(std::count_if(entries.cbegin(), entries.cend(), [](const ManifestEntry &e) { return !e.isFolder(); }));
}

QByteArray Manifest::encode() const
{
    QByteArray out;
    WireBytes::append(out, Version);
    WireBytes::append(out, quint8(encoding));
    WireBytes::append(out, quint32(entries.size()));
    WireBytes::append(out, quint64(totalBytes()));
    for (const ManifestEntry &e : entries) {
        const QByteArray path = NameText::encode(e.path, encoding);
        WireBytes::append(out, quint8(e.kind));
        WireBytes::append(out, quint16(path.size()));
        out.append(path);
        WireBytes::append(out, quint64(e.size));
        WireBytes::append(out, e.modifiedMs);
    }
    return out;
}

QByteArray Manifest::hash() const
{
    return hashOf(encode());
}

QByteArray Manifest::hashOf(QByteArrayView bytes)
{
    ensureSodium();
    QByteArray out(HashSize, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char *>(out.data()), HashSize,
                       reinterpret_cast<const unsigned char *>(bytes.data()), quint64(bytes.size()), nullptr, 0);
    return out;
}

std::optional<Manifest> Manifest::parse(QByteArrayView bytes, QString *refusal)
{
    const auto refuse = [&](const QString &why) {
        if (refusal)
            *refusal = why;
        return std::nullopt;
    };
    WireBytes::Reader reader(bytes);
    const auto version = reader.read<quint8>();
    const auto encoding = reader.read<quint8>();
    const auto count = reader.read<quint32>();
    const auto total = reader.read<quint64>();
    if (reader.failed())
        return refuse(invalid(u"数据不完整"_s));
    if (version != Version)
        return refuse(invalid(u"版本不受支持"_s));
    if (encoding > quint8(NameEncoding::Gb18030))
        return refuse(invalid(u"名字的编码未知"_s));
    if (count == 0 || count > quint32(MaxEntries))
        return refuse(invalid(u"条目数超出范围"_s));
    if (total > quint64(MaxSize))
        return refuse(invalid(u"总大小超出范围"_s));

    Manifest manifest;
    manifest.encoding = NameEncoding(encoding);
    EntryOrder order;
    qint64 sum = 0;
    for (quint32 i = 0; i < count; ++i) {
        ManifestEntry entry;
        QString why = readEntry(reader, manifest.encoding, &entry);
        if (why.isEmpty())
            why = order.admit(entry);
        if (!why.isEmpty())
            return refuse(why);
        // Both are at most MaxSize, so the sum cannot overflow before it is compared.
        sum += entry.size;
        if (sum > qint64(total))
            return refuse(invalid(u"文件的大小之和超过了总大小"_s));
        manifest.entries << entry;
    }
    if (!reader.atEnd())
        return refuse(invalid(u"末尾有多余的数据"_s));
    if (sum != qint64(total))
        return refuse(invalid(u"文件的大小之和与总大小不符"_s));
    return manifest;
}

bool Manifest::isSafePath(const QString &path, QString *why)
{
    const auto refuse = [&](const QString &what) {
        if (why)
            *why = what;
        return false;
    };
    if (path.isEmpty())
        return refuse(u"是空的路径"_s);
    if (path.startsWith(u'/'))
        return refuse(u"是绝对路径"_s);
    if (path.contains(u'\\'))
        return refuse(u"含有反斜杠“\\”"_s);
    if (std::any_of(path.cbegin(), path.cend(), isControl))
        return refuse(u"含有控制字符"_s);
    if (hasUnpairedSurrogate(path))
        return refuse(u"含有无效的字符"_s);
    // Name by name, without making a list: every entry of a set comes here, twice on receipt.
    const QStringView whole(path);
    for (qsizetype from = 0; from <= whole.size();) {
        qsizetype slash = whole.indexOf(u'/', from);
        if (slash < 0)
            slash = whole.size();
        const QStringView name = whole.mid(from, slash - from);
        from = slash + 1;
        if (name.isEmpty())
            return refuse(u"含有空的名字"_s);
        if (name == u"." || name == u"..")
            return refuse(u"含有“"_s + name + u"”"_s);
        if (NameText::localBytes(name) > MaxNameBytes)
            return refuse(u"含有超过 %1 字节的名字"_s.arg(MaxNameBytes));
    }
    return true;
}
