#include "core/Outbox.h"

#include "secure/PrivateFile.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray Header = QByteArrayLiteral("talvino-outbox 1\n");
// A full outbox: MaxPerPeer lines of at most about 600 bytes for each of many peers.
constexpr qsizetype MaxFileBytes = 64 << 20;

} // namespace

Outbox::Outbox(QString path) : path_(std::move(path))
{
    if (!path_.isEmpty())
        load();
}

Outbox::Added Outbox::add(const Entry &entry)
{
    dropExpired();
    if (count(entry.peerKey) >= maxPerPeer_)
        return Added::Full;
    entries_ << entry;
    return save() ? Added::Queued : Added::NotSaved;
}

bool Outbox::remove(const QByteArray &id)
{
    const qsizetype removed
        = entries_.removeIf([&](const Entry &e) { return e.message.id.bytes() == id; });
    if (removed > 0)
        save();
    return removed > 0;
}

bool Outbox::contains(const QByteArray &id) const
{
    return std::any_of(entries_.cbegin(), entries_.cend(), [&](const Entry &e) { return e.message.id.bytes() == id; });
}

QList<Outbox::Entry> Outbox::waitingFor(const QByteArray &peerKey) const
{
    QList<Entry> waiting;
    for (const Entry &e : entries_)
        if (e.peerKey == peerKey)
            waiting << e;
    return waiting;
}

int Outbox::count(const QByteArray &peerKey) const
{
    return int(std::count_if(entries_.cbegin(), entries_.cend(), [&](const Entry &e) { return e.peerKey == peerKey; }));
}

void Outbox::dropExpired()
{
    const QDateTime oldest = QDateTime::currentDateTimeUtc().addDays(-MaxAgeDays);
    if (entries_.removeIf([&](const Entry &e) { return e.queued < oldest; }) > 0)
        save();
}

void Outbox::load()
{
    QByteArray content;
    const auto result = PrivateFile::read(path_, MaxFileBytes, &content, &error_);
    if (result != PrivateFile::ReadResult::Read)
        return; // missing: nothing waits; unreadable: left as it is, error() tells
    if (!content.startsWith(Header)) {
        error_ = path_ + u": not an outbox, left as it is"_s;
        path_.clear(); // never overwritten: what it holds may be the person's
        return;
    }
    for (const QByteArray &line : content.mid(Header.size()).split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() != 4)
            continue;
        bool ok = false;
        const qint64 queuedMs = f[2].toLongLong(&ok);
        const std::optional<SealedMessage> message = SealedMessage::parse(QByteArray::fromHex(f[3]));
        const QByteArray key = QByteArray::fromHex(f[0]);
        if (!ok || !message || key.isEmpty())
            continue;
        entries_ << Entry{key, QString::fromLatin1(f[1]), *message, QDateTime::fromMSecsSinceEpoch(queuedMs, Qt::UTC)};
    }
    dropExpired();
}

bool Outbox::save()
{
    if (path_.isEmpty())
        return true;
    QByteArray content = Header;
    for (const Entry &e : std::as_const(entries_))
        content += e.peerKey.toHex() + ' ' + e.ip.toLatin1() + ' ' + QByteArray::number(e.queued.toMSecsSinceEpoch())
            + ' ' + e.message.bytes().toHex() + '\n';
    if (PrivateFile::write(path_, content, &error_)) {
        error_.clear();
        return true;
    }
    return false;
}
