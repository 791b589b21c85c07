#include "fileset/SetReceiver.h"

#include "fileset/NameText.h"

#include <QFileInfo>
#include <QMutexLocker>

#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray bigEndian32(quint32 value)
{
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 4);
}


} // namespace

SetReceiver::SetReceiver(SetStore store, IncomingSet set, SetOffer offer, QSet<quint32> finished)
    : store_(std::move(store)), set_(std::move(set)), offer_(std::move(offer)), finished_(std::move(finished))
{
    filesDone_ = int(finished_.size());
    if (!set_.manifest.isEmpty())
        if (std::optional<Manifest> manifest = Manifest::parse(set_.manifest, nullptr)) {
            qint64 done = 0;
            for (quint32 index : std::as_const(finished_))
                if (index < quint32(manifest->entries.size()))
                    done += manifest->entries[int(index)].size;
            finishedBytes_ = done;
            bytesDone_ = done;
        }
}

SetReceiver::~SetReceiver() = default;

void SetReceiver::fail(const QString &error)
{
    const QMutexLocker lock(&mutex_);
    if (words_.error.isEmpty())
        words_.error = error;
}

// Nothing is written before the manifest is whole, safe and the one the offer described.
bool SetReceiver::acceptHeader(const QByteArray &setId, const QByteArray &manifest, QString *refusal)
{
    QString why;
    std::optional<Manifest> parsed;
    if (setId != offer_.setId)
        why = u"收到的文件组不是所接受的那一组"_s;
    else if (!(parsed = Manifest::parse(manifest, &why)))
        ;
    else if (!offer_.matches(*parsed))
        why = u"文件清单与对方的发送请求不符"_s;
    else if (!set_.manifest.isEmpty() && set_.manifest != manifest)
        why = u"文件清单与上次收到的不同"_s;
    if (why.isEmpty()) {
        placement_ = std::make_unique<SetPlacement>(set_.root, set_.setId, *parsed);
        if (!set_.topNames.isEmpty())
            placement_->setTopNames(set_.topNames);
        if (!placement_->makeFolders(&why))
            placement_.reset();
    }
    if (why.isEmpty()) {
        QMutexLocker lock(&mutex_);
        set_.manifest = manifest;
        set_.topNames = placement_->topNames();
        lock.unlock();
        // The top names go to disk before any file is written, so that a resume after a restart
        // continues in the same folders.
        if (!store_.saveIncoming(set(), &why))
            placement_.reset();
    }
    if (!why.isEmpty()) {
        const QMutexLocker lock(&mutex_);
        words_.refusal = why;
        if (refusal)
            *refusal = why;
        return false;
    }
    manifest_ = std::move(parsed);
    journal_.setFileName(store_.finishedJournal(set_.setId));
    if (!journal_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        fail(u"无法记录接收进度："_s + journal_.errorString());
        return false;
    }
    return true;
}

// A file resumes from at most the bytes held: the sender checked those before start; anything
// after them (a late write of the stream that was stopped) is cut off.
int SetReceiver::openFile(quint32 index, qint64 start, qint64 length)
{
    if (!manifest_ || index >= quint32(manifest_->entries.size()) || finished_.contains(index))
        return -1;
    const ManifestEntry &entry = manifest_->entries[int(index)];
    if (entry.kind != ManifestEntry::Kind::File || start < 0 || length < 0 || start + length != entry.size
        || (start > 0 && start > placement_->heldBytes(int(index))))
        return -1;
    // A large file takes long enough that the small ones before it should be in place first.
    if (length >= SetStrmServ::DirectBody && !placeWaiting())
        return -1;
    QString error;
    part_ = placement_->openPart(int(index), start, &error);
    if (!part_.isOpen()) {
        fail(error);
        return -1;
    }
    partIndex_ = index;
    partBase_ = finishedBytes_ + start;
    bodyAtPartStart_ = lastBody_;
    bytesDone_ = partBase_;
    return part_.get();
}

void SetReceiver::fileDone(quint32 index)
{
    if (!part_.isOpen() || index != partIndex_)
        throw std::runtime_error("a file of the set out of order");
    part_.reset();
    finished_.insert(index);
    waiting_.append(index);
    ++filesDone_;
    finishedBytes_ += manifest_->entries[int(index)].size;
    bytesDone_ = finishedBytes_;
    waitingBytes_ += manifest_->entries[int(index)].size;
    if ((waiting_.size() >= PlaceBatch || waitingBytes_ >= PlaceBatchBytes) && !placeWaiting())
        throw std::runtime_error("a file of the set not placed");
}

bool SetReceiver::placeWaiting()
{
    if (waiting_.isEmpty())
        return true;
    // Noted first: a file renamed but not noted would be asked for again and arrive twice.
    QByteArray notes;
    for (const quint32 index : std::as_const(waiting_))
        notes += bigEndian32(index);
    if (journal_.write(notes) != notes.size() || !journal_.flush()) {
        fail(u"无法记录接收进度："_s + journal_.errorString());
        return false;
    }
    const QList<quint32> placing = std::exchange(waiting_, {});
    waitingBytes_ = 0;
    for (const quint32 index : placing) {
        QString error;
        if (!placement_->placeWhole(int(index), &error)) {
            fail(error);
            return false;
        }
    }
    return true;
}

void SetReceiver::fileSkipped(quint32 index, const QByteArray &reason)
{
    if (!manifest_ || index >= quint32(manifest_->entries.size()))
        return;
    const QMutexLocker lock(&mutex_);
    words_.failures.append({NameText::shown(manifest_->entries[int(index)].path, 200),
                            NameText::shownBytes(reason, manifest_->encoding, 200)});
}

void SetReceiver::progress(qint64 bodyBytes)
{
    lastBody_ = bodyBytes;
    if (part_.isOpen())
        bytesDone_ = partBase_ + (bodyBytes - bodyAtPartStart_);
}

void SetReceiver::finished()
{
    if (!placeWaiting())
        throw std::runtime_error("a file of the set not placed");
}

void SetReceiver::ended(bool acknowledged, const QString &reason)
{
    part_.reset();
    // Files that arrived whole before the stream broke off are kept.
    if (manifest_)
        placeWaiting();
    journal_.close();
    const QMutexLocker lock(&mutex_);
    words_.ended = true;
    words_.acknowledged = acknowledged;
    if (!acknowledged && words_.error.isEmpty() && words_.refusal.isEmpty())
        words_.error = reason;
}

QSet<quint32> SetReceiver::placedEntries(const SetStore &store, const IncomingSet &set)
{
    QSet<quint32> placed = store.finished(set.setId);
    std::optional<Manifest> manifest = Manifest::parse(set.manifest, nullptr);
    if (!manifest)
        return placed;
    SetPlacement placement(set.root, set.setId, *manifest);
    placement.setTopNames(set.topNames);
    const QSet<quint32> noted = placed;
    for (const quint32 index : noted) {
        if (index >= quint32(manifest->entries.size()) || !QFile::exists(placement.tempPath(int(index))))
            continue;
        QString error;
        if (QFileInfo(placement.tempPath(int(index))).size() != manifest->entries[int(index)].size
            || placement.finish(int(index), &error).isEmpty())
            placed.remove(index);
    }
    return placed;
}

SetReceiver::Figures SetReceiver::figures() const
{
    const QMutexLocker lock(&mutex_);
    Figures figures = words_;
    figures.filesDone = filesDone_;
    figures.bytesDone = bytesDone_;
    return figures;
}

IncomingSet SetReceiver::set() const
{
    const QMutexLocker lock(&mutex_);
    return set_;
}
