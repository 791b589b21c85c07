#include "fileset/SetDatagrams.h"

#include "fileset/Descriptor.h"
#include "fileset/WireBytes.h"
#include "secure/Sodium.h"

#include <QFile>

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The bytes before a resume offset that its hash covers.
constexpr qint64 ResumeHashSpan = 1 << 20;
constexpr qsizetype ReadChunk = 64 * 1024;

bool isPlainName(const QString &name)
{
    return Manifest::isSafePath(name, nullptr) && !name.contains(u'/');
}

} // namespace

SetOffer SetOffer::describe(const QByteArray &setId, const Manifest &manifest, const QString &note)
{
    SetOffer offer;
    offer.setId = setId;
    offer.encoding = manifest.encoding;
    offer.entryCount = quint32(manifest.entries.size());
    offer.fileCount = quint32(manifest.fileCount());
    offer.totalBytes = manifest.totalBytes();
    offer.manifestHash = manifest.hash();
    offer.note = NameText::truncated(note, MaxNoteBytes, manifest.encoding);
    for (const ManifestEntry &e : manifest.entries) {
        if (offer.topNames.size() == MaxTopNames)
            break;
        if (!e.path.contains(u'/'))
            offer.topNames << NameText::truncated(e.path, MaxTopNameBytes, manifest.encoding);
    }
    return offer;
}

QByteArray SetOffer::encode() const
{
    QByteArray out = setId;
    WireBytes::append(out, quint8(encoding));
    WireBytes::append(out, entryCount);
    WireBytes::append(out, fileCount);
    WireBytes::append(out, quint64(totalBytes));
    out.append(manifestHash);
    const QByteArray noteBytes = NameText::encode(note, encoding);
    WireBytes::append(out, quint16(noteBytes.size()));
    out.append(noteBytes);
    WireBytes::append(out, quint8(topNames.size()));
    for (const QString &name : topNames) {
        const QByteArray nameBytes = NameText::encode(name, encoding);
        WireBytes::append(out, quint8(nameBytes.size()));
        out.append(nameBytes);
    }
    return out;
}

std::optional<SetOffer> SetOffer::parse(QByteArrayView inner)
{
    WireBytes::Reader reader(inner);
    SetOffer offer;
    offer.setId = reader.take(SetIdSize).toByteArray();
    const auto encoding = reader.read<quint8>();
    offer.entryCount = reader.read<quint32>();
    offer.fileCount = reader.read<quint32>();
    const auto total = reader.read<quint64>();
    offer.manifestHash = reader.take(Manifest::HashSize).toByteArray();
    const auto noteSize = reader.read<quint16>();
    const QByteArrayView noteBytes = reader.take(noteSize);
    const auto topCount = reader.read<quint8>();
    if (reader.failed() || encoding > quint8(NameEncoding::Gb18030) || offer.entryCount == 0
        || offer.entryCount > quint32(Manifest::MaxEntries) || offer.fileCount > offer.entryCount
        || total > quint64(Manifest::MaxSize) || (offer.fileCount == 0 && total != 0) || noteSize > MaxNoteBytes
        || topCount > MaxTopNames || topCount > offer.entryCount)
        return std::nullopt;
    offer.encoding = NameEncoding(encoding);
    offer.totalBytes = qint64(total);
    const std::optional<QString> note = NameText::decode(noteBytes, offer.encoding);
    if (!note)
        return std::nullopt;
    offer.note = *note;
    for (int i = 0; i < topCount; ++i) {
        const auto size = reader.read<quint8>();
        const QByteArrayView nameBytes = reader.take(size);
        if (reader.failed() || size == 0 || size > MaxTopNameBytes)
            return std::nullopt;
        const std::optional<QString> name = NameText::decode(nameBytes, offer.encoding);
        if (!name || !isPlainName(*name))
            return std::nullopt;
        offer.topNames << *name;
    }
    if (!reader.atEnd())
        return std::nullopt;
    return offer;
}

bool SetOffer::matches(const Manifest &manifest) const
{
    return encoding == manifest.encoding && entryCount == quint32(manifest.entries.size())
        && fileCount == quint32(manifest.fileCount()) && totalBytes == manifest.totalBytes()
        && manifestHash == manifest.hash();
}

QByteArray SetAnswer::encode() const
{
    QByteArray out = setId;
    WireBytes::append(out, quint8(action));
    if (action != Action::Send)
        return out;
    WireBytes::append(out, resumeIndex);
    WireBytes::append(out, quint64(resumeOffset));
    out.append(resumeHash.isEmpty() ? QByteArray(ResumeHashSize, '\0') : resumeHash);
    WireBytes::append(out, quint16(ranges.size()));
    for (const auto &[first, count] : ranges) {
        WireBytes::append(out, first);
        WireBytes::append(out, count);
    }
    return out;
}

std::optional<SetAnswer> SetAnswer::parse(QByteArrayView inner)
{
    WireBytes::Reader reader(inner);
    SetAnswer answer;
    answer.setId = reader.take(SetOffer::SetIdSize).toByteArray();
    const auto action = reader.read<quint8>();
    if (reader.failed() || action < quint8(Action::Send) || action > quint8(Action::Paused))
        return std::nullopt;
    answer.action = Action(action);
    if (answer.action != Action::Send)
        return reader.atEnd() ? std::optional(answer) : std::nullopt;

    answer.resumeIndex = reader.read<quint32>();
    const auto offset = reader.read<quint64>();
    const QByteArray hash = reader.take(ResumeHashSize).toByteArray();
    const auto rangeCount = reader.read<quint16>();
    if (reader.failed() || offset > quint64(Manifest::MaxSize) || rangeCount == 0 || rangeCount > MaxRanges)
        return std::nullopt;
    answer.resumeOffset = qint64(offset);
    if (answer.resumeIndex == NoResume) {
        if (offset != 0 || hash != QByteArray(ResumeHashSize, '\0'))
            return std::nullopt;
    } else {
        answer.resumeHash = hash;
    }
    bool resumeWanted = answer.resumeIndex == NoResume;
    quint64 end = 0; // one past the last index of the ranges so far
    for (int i = 0; i < rangeCount; ++i) {
        const auto first = reader.read<quint32>();
        const auto count = reader.read<quint32>();
        if (reader.failed() || count == 0 || first < end || quint64(first) + count > quint64(Manifest::MaxEntries))
            return std::nullopt;
        end = quint64(first) + count;
        resumeWanted = resumeWanted || (answer.resumeIndex >= first && answer.resumeIndex < end);
        answer.ranges << qMakePair(first, count);
    }
    if (!reader.atEnd() || !resumeWanted)
        return std::nullopt;
    return answer;
}

QList<QPair<quint32, quint32>> SetAnswer::rangesOf(const QList<quint32> &wanted)
{
    QList<QPair<quint32, quint32>> ranges;
    for (const quint32 index : wanted) {
        if (!ranges.isEmpty()) {
            auto &[first, count] = ranges.last();
            const quint64 end = quint64(first) + count;
            if (index < end)
                continue; // a repeated index
            if (index == end) {
                ++count;
                continue;
            }
        }
        if (ranges.size() == MaxRanges)
            break;
        ranges << qMakePair(index, quint32(1));
    }
    return ranges;
}

QByteArray resumeHash(const QString &path, qint64 offset)
{
    ensureSodium();
    const Descriptor file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (offset < 0 || !file.isOpen() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)
        || status.st_size < offset)
        return {};
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, SetAnswer::ResumeHashSize);
    QByteArray chunk(ReadChunk, Qt::Uninitialized);
    for (qint64 at = offset - qMin(offset, ResumeHashSpan); at < offset;) {
        const ssize_t n = ::pread(file.get(), chunk.data(), size_t(qMin<qint64>(ReadChunk, offset - at)), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(chunk.constData()), quint64(n));
        at += n;
    }
    QByteArray out(SetAnswer::ResumeHashSize, Qt::Uninitialized);
    crypto_generichash_final(&state, reinterpret_cast<unsigned char *>(out.data()), SetAnswer::ResumeHashSize);
    return out;
}

QByteArray newSetId()
{
    ensureSodium();
    QByteArray id(SetOffer::SetIdSize, Qt::Uninitialized);
    randombytes_buf(id.data(), size_t(id.size()));
    return id;
}
