#include "core/ArrivalOrder.h"

#include "secure/PrivateFile.h"

#include <QFile>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray Header = QByteArrayLiteral("talvino-seen 1\n");
constexpr qsizetype MaxJournalBytes = 32 << 20;

QByteArray journalLine(const QByteArray &key, const QByteArray &id, quint32 sequence)
{
    return key.toHex() + ' ' + id.toHex() + ' ' + QByteArray::number(sequence) + '\n';
}

} // namespace

ArrivalOrder::ArrivalOrder(QString path) : path_(std::move(path))
{
    if (!path_.isEmpty())
        load();
}

bool ArrivalOrder::seen(const Sender &sender, const MessageId &id) const
{
    const QByteArray bytes = id.bytes();
    return std::find(sender.ids.cbegin(), sender.ids.cend(), bytes) != sender.ids.cend()
        || std::any_of(sender.held.cbegin(), sender.held.cend(), [&](const Arrival &a) { return a.message.id == id; });
}

bool ArrivalOrder::arrive(const QByteArray &senderKey, const Arrival &arrival, QList<Arrival> &show)
{
    if (!senders_.contains(senderKey) && senders_.size() >= maxSenders_)
        evictSender();
    const bool first = !senders_.contains(senderKey);
    Sender &sender = senders_[senderKey];
    sender.lastUsedMs = arrival.arrivedMs;
    if (seen(sender, arrival.message.id))
        return false;
    const quint32 sequence = arrival.message.sequence;
    // A sender never heard from starts where it is; one from before the last shown is late.
    if (first || sequence <= sender.lastShown + 1) {
        remember(senderKey, sender, arrival);
        show << arrival;
        showFollowing(senderKey, sender, show);
        return true;
    }
    const auto at = std::lower_bound(sender.held.begin(), sender.held.end(), sequence,
                                     [](const Arrival &a, quint32 s) { return a.message.sequence < s; });
    sender.held.insert(at, arrival);
    ++heldInAll_;
    if (sender.held.size() > maxHeld_ || heldInAll_ > MaxHeldInAll) {
        // Too much waits on one gap: give up on the gap.
        const Arrival oldest = takeHeld(sender);
        remember(senderKey, sender, oldest);
        show << oldest;
        showFollowing(senderKey, sender, show);
    }
    return true;
}

// The held arrivals that follow what was shown without a gap.
void ArrivalOrder::showFollowing(const QByteArray &key, Sender &sender, QList<Arrival> &show)
{
    while (!sender.held.isEmpty() && sender.held.first().message.sequence <= sender.lastShown + 1) {
        const Arrival next = takeHeld(sender);
        remember(key, sender, next);
        show << next;
    }
}

ArrivalOrder::Arrival ArrivalOrder::takeHeld(Sender &sender)
{
    --heldInAll_;
    return sender.held.takeFirst();
}

void ArrivalOrder::remember(const QByteArray &key, Sender &sender, const Arrival &arrival, bool journal)
{
    const QByteArray id = arrival.message.id.bytes();
    sender.ids.push_back(id);
    while (int(sender.ids.size()) > rememberedIds_)
        sender.ids.pop_front();
    sender.lastShown = std::max(sender.lastShown, arrival.message.sequence);
    if (journal)
        append(journalLine(key, id, arrival.message.sequence));
}

QList<ArrivalOrder::Arrival> ArrivalOrder::release(qint64 nowMs)
{
    QList<Arrival> show;
    for (auto it = senders_.begin(); it != senders_.end(); ++it) {
        Sender &sender = *it;
        while (!sender.held.isEmpty() && nowMs - sender.held.first().arrivedMs >= holdMs_) {
            const Arrival due = takeHeld(sender);
            remember(it.key(), sender, due);
            show << due;
            showFollowing(it.key(), sender, show);
        }
    }
    return show;
}

std::optional<qint64> ArrivalOrder::nextDueMs() const
{
    std::optional<qint64> next;
    for (const Sender &sender : senders_)
        for (const Arrival &held : sender.held)
            if (!next || held.arrivedMs + holdMs_ < *next)
                next = held.arrivedMs + holdMs_;
    return next;
}

// The sender heard from longest ago makes room (its held messages are shown, not lost, by the
// caller's next release: they are dropped here only when nothing else is possible).
void ArrivalOrder::evictSender()
{
    auto oldest = senders_.end();
    for (auto it = senders_.begin(); it != senders_.end(); ++it)
        if (it->held.isEmpty() && (oldest == senders_.end() || it->lastUsedMs < oldest->lastUsedMs))
            oldest = it;
    if (oldest != senders_.end())
        senders_.erase(oldest);
}

void ArrivalOrder::load()
{
    QByteArray content;
    QString why;
    const auto result = PrivateFile::read(path_, MaxJournalBytes, &content, &why);
    if (result == PrivateFile::ReadResult::Missing)
        return;
    if (result == PrivateFile::ReadResult::Failed) {
        error_ = why; // what arrives is still told apart from now on, in memory
        return;
    }
    if (!content.startsWith(Header)) {
        // Not a journal of ours (it holds nothing of the person's): a new one replaces it.
        error_ = path_ + u": not a list of seen messages, started anew"_s;
        rewrite();
        return;
    }
    const QList<QByteArray> lines = content.mid(Header.size()).split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 3)
            continue; // an empty last line, or one cut short by a crash
        const QByteArray key = QByteArray::fromHex(fields[0]);
        const std::optional<MessageId> id = MessageId::parse(QByteArray::fromHex(fields[1]));
        bool ok = false;
        const quint32 sequence = fields[2].toUInt(&ok);
        if (key.isEmpty() || !id || !ok)
            continue;
        Sender &sender = senders_[key];
        Arrival arrival;
        arrival.message.id = *id;
        arrival.message.sequence = sequence;
        remember(key, sender, arrival, false);
        ++journalLines_;
    }
    if (journalLines_ > CompactLines)
        rewrite();
}

void ArrivalOrder::rewrite()
{
    QByteArray content = Header;
    journalLines_ = 0;
    for (auto it = senders_.cbegin(); it != senders_.cend(); ++it) {
        const std::deque<QByteArray> &ids = it->ids;
        for (size_t i = 0; i < ids.size(); ++i) {
            // Each sender's highest sequence goes with its newest id, so that it is kept.
            const quint32 sequence = i + 1 == ids.size() ? it->lastShown : 0;
            content += journalLine(it.key(), ids[i], sequence);
            ++journalLines_;
        }
    }
    QString why;
    if (!PrivateFile::write(path_, content, &why))
        error_ = why;
}

void ArrivalOrder::append(const QByteArray &line)
{
    if (path_.isEmpty())
        return;
    QString why;
    const bool fresh = journalLines_ == 0 && !QFile::exists(path_);
    if (!PrivateFile::append(path_, fresh ? Header + line : line, &why)) {
        error_ = why;
        return;
    }
    if (++journalLines_ > CompactLines)
        rewrite();
}
