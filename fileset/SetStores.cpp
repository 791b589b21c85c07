#include "fileset/SetStores.h"

#include "fileset/SetPlacement.h"
#include "secure/PrivateFile.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QIODevice>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr quint32 OutgoingMagic = 0x54534f31; // "TSO1"
constexpr quint32 IncomingMagic = 0x54534931; // "TSI1"
constexpr int SetIdSize = 16;

bool makePrivateFolder(const QString &path, QString *error)
{
    if (!QDir().mkpath(path)) {
        if (error)
            *error = u"无法建立文件夹 "_s + path;
        return false;
    }
    ::chmod(QFile::encodeName(path).constData(), 0700);
    return true;
}

QByteArray readState(const QString &path)
{
    QByteArray bytes;
    QString ignored;
    if (PrivateFile::read(path, SetStore::MaxStateBytes, &bytes, &ignored) != PrivateFile::ReadResult::Read)
        return {};
    return bytes;
}

} // namespace

SetStore::SetStore(QString folder) : folder_(std::move(folder)) {}

QString SetStore::outPath(const QByteArray &setId) const
{
    return folder_ + u"/out-"_s + QString::fromLatin1(setId.toHex());
}

QString SetStore::inFolder(const QByteArray &setId) const
{
    return folder_ + u"/in-"_s + QString::fromLatin1(setId.toHex());
}

QString SetStore::finishedJournal(const QByteArray &setId) const { return inFolder(setId) + u"/finished"_s; }

bool SetStore::saveOutgoing(const OutgoingSet &set, QString *error)
{
    if (!QFile::exists(outPath(set.setId)) && outgoingIds().size() >= MaxSets) {
        if (error)
            *error = u"待发送的文件组太多（最多 %1 组）"_s.arg(MaxSets);
        return false;
    }
    if (!makePrivateFolder(folder_, error))
        return false;
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << OutgoingMagic << set.setId << set.peerIp << set.peerKey << set.createdMs << set.note
        << set.manifest.encode() << set.localPaths;
    return PrivateFile::write(outPath(set.setId), bytes, error);
}

std::optional<OutgoingSet> SetStore::outgoing(const QByteArray &setId) const
{
    const QByteArray bytes = readState(outPath(setId));
    QDataStream in(bytes);
    quint32 magic = 0;
    OutgoingSet set;
    QByteArray manifest;
    in >> magic >> set.setId >> set.peerIp >> set.peerKey >> set.createdMs >> set.note >> manifest >> set.localPaths;
    if (in.status() != QDataStream::Ok || magic != OutgoingMagic || set.setId != setId)
        return std::nullopt;
    std::optional<Manifest> parsed = Manifest::parse(manifest, nullptr);
    if (!parsed || parsed->entries.size() != set.localPaths.size())
        return std::nullopt;
    set.manifest = std::move(*parsed);
    return set;
}

void SetStore::removeOutgoing(const QByteArray &setId) { QFile::remove(outPath(setId)); }

bool SetStore::saveIncoming(const IncomingSet &set, QString *error)
{
    const QString folder = inFolder(set.setId);
    if (!QFile::exists(folder) && incomingIds().size() >= MaxSets) {
        if (error)
            *error = u"正在接收的文件组太多（最多 %1 组）"_s.arg(MaxSets);
        return false;
    }
    if (!makePrivateFolder(folder, error))
        return false;
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << IncomingMagic << set.setId << set.peerIp << set.peerKey << set.createdMs << set.offer << set.root
        << set.topNames << set.manifest;
    return PrivateFile::write(folder + u"/state"_s, bytes, error);
}

std::optional<IncomingSet> SetStore::incoming(const QByteArray &setId) const
{
    const QByteArray bytes = readState(inFolder(setId) + u"/state"_s);
    QDataStream in(bytes);
    quint32 magic = 0;
    IncomingSet set;
    in >> magic >> set.setId >> set.peerIp >> set.peerKey >> set.createdMs >> set.offer >> set.root >> set.topNames
        >> set.manifest;
    if (in.status() != QDataStream::Ok || magic != IncomingMagic || set.setId != setId)
        return std::nullopt;
    return set;
}

void SetStore::removeIncoming(const QByteArray &setId) { QDir(inFolder(setId)).removeRecursively(); }

// A journal cut short by a crash ends in less than a whole index: that part is ignored.
QSet<quint32> SetStore::finished(const QByteArray &setId) const
{
    QSet<quint32> indices;
    QFile journal(finishedJournal(setId));
    if (!journal.open(QIODevice::ReadOnly))
        return indices;
    const QByteArray bytes = journal.read(qint64(Manifest::MaxEntries) * 4);
    for (qsizetype at = 0; at + 4 <= bytes.size(); at += 4)
        indices.insert(quint32(quint8(bytes[at])) << 24 | quint32(quint8(bytes[at + 1])) << 16
                       | quint32(quint8(bytes[at + 2])) << 8 | quint32(quint8(bytes[at + 3])));
    return indices;
}

QString SetStore::saveFolder(const QString &fallback) const
{
    QByteArray bytes;
    QString ignored;
    if (PrivateFile::read(folder_ + u"/save-folder"_s, 4096, &bytes, &ignored) != PrivateFile::ReadResult::Read)
        return fallback;
    const QString folder = QString::fromUtf8(bytes).trimmed();
    return folder.isEmpty() ? fallback : folder;
}

void SetStore::setSaveFolder(const QString &folder)
{
    QString ignored;
    if (makePrivateFolder(folder_, &ignored))
        PrivateFile::write(folder_ + u"/save-folder"_s, folder.toUtf8(), &ignored);
}

QList<QByteArray> SetStore::idsIn(const QString &prefix) const
{
    QList<QByteArray> ids;
    const QStringList names = QDir(folder_).entryList({prefix + u"*"_s}, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const QByteArray id = QByteArray::fromHex(name.mid(prefix.size()).toLatin1());
        if (id.size() == SetIdSize && name.size() == prefix.size() + 2 * SetIdSize)
            ids.append(id);
    }
    return ids;
}

QList<QByteArray> SetStore::outgoingIds() const { return idsIn(u"out-"_s); }
QList<QByteArray> SetStore::incomingIds() const { return idsIn(u"in-"_s); }

void SetStore::removeExpired(qint64 nowMs)
{
    for (const QByteArray &id : outgoingIds()) {
        const std::optional<OutgoingSet> set = outgoing(id);
        if (!set || nowMs - set->createdMs > KeepMs)
            removeOutgoing(id);
    }
    for (const QByteArray &id : incomingIds()) {
        const std::optional<IncomingSet> set = incoming(id);
        if (set && nowMs - set->createdMs <= KeepMs)
            continue;
        // The parts of a set given up are removed with it; what was finished stays.
        if (set && !set->manifest.isEmpty())
            if (std::optional<Manifest> manifest = Manifest::parse(set->manifest, nullptr)) {
                SetPlacement placement(set->root, set->setId, std::move(*manifest));
                placement.setTopNames(set->topNames);
                placement.discardParts();
            }
        removeIncoming(id);
    }
}
