#include "core/Deliveries.h"

#include "core/Packet.h"
#include "core/PeerSecurity.h"
#include "core/PresenceService.h"
#include "net/Swallow.h"
#include "net/TZnUDP.h"
#include "secure/Envelope.h"
#include "secure/PrivateFile.h"
#include "secure/SendCounter.h"

#include <QDir>

#include <algorithm>
#include <numeric>

using namespace Qt::Literals::StringLiterals;

namespace {

// How long after a message the sequences go to disk (and at the end): a crash forgets at most
// those of this long, which only costs the peer's order for them.
constexpr int SequenceSaveMs = 1000;
const QByteArray SequenceHeader = QByteArrayLiteral("talvino-sequence 1\n");

QString fileIn(const QString &folder, const QString &name)
{
    return folder.isEmpty() ? QString() : QDir(folder).filePath(name);
}

} // namespace

Deliveries::Deliveries(const QString &configDir, PeerSecurity &security, PresenceService &presence, TZnUDP &endpoint,
                       QObject *parent)
    : QObject(parent), configDir_(configDir), security_(security), presence_(presence), endpoint_(endpoint),
      counter_(std::make_unique<SendCounter>(fileIn(configDir, CounterFileName))),
      outbox_(std::make_unique<Outbox>(fileIn(configDir, OutboxFileName)))
{
    clock_.start();
    loadSequences();
    sequenceSave_.setSingleShot(true);
    sequenceSave_.setInterval(SequenceSaveMs);
    connect(&sequenceSave_, &QTimer::timeout, this, &Deliveries::saveSequences);
    connect(&presence_, &PresenceService::peerHeard, this,
            [this](const NearbyPeer &peer) { swallow([&] { flushOutbox(peer.publicKey, peer.address); }); });
    // What waited before a restart is listed in its conversation again.
    for (const Outbox::Entry &entry : outbox_->entries())
        list(entry.ip, {entry.message.id.bytes(), entry.message.datagram, entry.queued.toLocalTime(), State::Waiting});
}

Deliveries::~Deliveries() { saveSequences(); }

Deliveries::State Deliveries::send(const QString &ip, const QByteArray &datagram)
{
    const bool listed = datagram.startsWith(Packet::Message);
    const QByteArray pinned = security_.pinnedKey(ip);
    switch (security_.linkTo(ip)) {
    case PeerSecurity::Link::Sealed: {
        const QByteArray key = security_.peerKey(ip);
        launch(ip, key, newMessage(key, datagram), listed);
        return State::Sending;
    }
    case PeerSecurity::Link::KeyChanged:
        return State::NotQueued; // the window refuses it before
    case PeerSecurity::Link::Plain:
        break;
    }
    if (!pinned.isEmpty() && listed && presence_.isEnabled() && !presentAt(ip))
        return queue(ip, pinned, newMessage(pinned, datagram), State::Waiting);
    Packet::send(endpoint_, ip, datagram);
    if (listed)
        list(ip, {QByteArray(), datagram, QDateTime::currentDateTime(), State::NoReceipt});
    return State::NoReceipt;
}

// Whether presence lists a peer at ip (one that announces no key is a base peer now).
bool Deliveries::presentAt(const QString &ip) const
{
    const QList<NearbyPeer> peers = presence_.peers();
    return std::any_of(peers.cbegin(), peers.cend(),
                       [&](const NearbyPeer &p) { return p.address == ip || p.addresses.contains(ip); });
}

SealedMessage Deliveries::newMessage(const QByteArray &peerKey, const QByteArray &datagram)
{
    quint32 &sequence = sequences_[peerKey];
    ++sequence;
    if (!sequenceSave_.isActive())
        sequenceSave_.start();
    return {{security_.ownKeyId(), counter_->next()}, sequence, datagram.left(SealedMessage::MaxDatagramSize)};
}

void Deliveries::launch(const QString &ip, const QByteArray &peerKey, const SealedMessage &message, bool listed)
{
    const QByteArray id = message.id.bytes();
    auto flight = std::make_shared<Flight>();
    flight->ip = ip;
    flight->peerKey = peerKey;
    flight->message = message;
    flight->listed = listed;
    flight->timer = std::make_unique<QTimer>();
    flight->timer->setSingleShot(true);
    connect(flight->timer.get(), &QTimer::timeout, this, [this, id] { swallow([&] { retry(id); }); });
    inFlight_.insert(id, flight);
    if (listed) {
        if (outbox_->contains(id))
            setState(ip, id, State::Sending);
        else
            list(ip, {id, message.datagram, QDateTime::currentDateTime(), State::Sending});
    }
    transmit(*flight);
    flight->timer->start(retryDelaysMs_.value(0));
}

// Seals the message for the peer's address now; false when the link is no longer sealed.
bool Deliveries::transmit(const Flight &flight)
{
    if (security_.peerKey(flight.ip) != flight.peerKey)
        return false;
    const std::optional<QByteArray> sealed = security_.seal(flight.ip, InnerKind::Message, flight.message.bytes());
    if (!sealed)
        return false;
    endpoint_.RemoteHost = flight.ip;
    endpoint_.SendDatagram(*sealed, int(sealed->size()));
    return true;
}

void Deliveries::retry(const QByteArray &id)
{
    const auto flight = inFlight_.value(id);
    if (!flight)
        return;
    if (flight->retries >= retryDelaysMs_.size())
        return giveUp(id);
    ++flight->retries;
    transmit(*flight);
    // The last copy gets as long as the last delay to be answered.
    flight->timer->start(retryDelaysMs_.value(flight->retries, retryDelaysMs_.last()));
}

void Deliveries::giveUp(const QByteArray &id)
{
    const std::shared_ptr<Flight> flight = inFlight_.take(id);
    if (!flight)
        return;
    if (!flight->listed)
        return; // an automatic reply is not kept
    if (queue(flight->ip, flight->peerKey, flight->message, State::NotDelivered) != State::NotDelivered)
        return;
    emit notDelivered(flight->ip, flight->message.datagram);
    // A peer that answered other messages while this one was retried is there: the network
    // lost this one's copies or receipts, and it goes again at once.
    const qint64 span = std::accumulate(retryDelaysMs_.cbegin(), retryDelaysMs_.cend(), qint64(0))
        + retryDelaysMs_.value(retryDelaysMs_.size() - 1);
    const auto answered = lastReceiptMs_.constFind(flight->peerKey);
    if (answered != lastReceiptMs_.cend() && clock_.elapsed() - *answered <= span)
        flushOutbox(flight->peerKey, flight->ip);
}

Deliveries::State Deliveries::queue(const QString &ip, const QByteArray &peerKey, const SealedMessage &message,
                                    State state)
{
    const QByteArray id = message.id.bytes();
    if (!outbox_->contains(id)
        && outbox_->add({peerKey, ip, message, QDateTime::currentDateTimeUtc()}) == Outbox::Added::Full)
        state = State::NotQueued;
    if (conversations_.value(ip).isEmpty()
        || std::none_of(conversations_[ip].cbegin(), conversations_[ip].cend(), [&](const Sent &s) { return s.id == id; }))
        list(ip, {id, message.datagram, QDateTime::currentDateTime(), state});
    else
        setState(ip, id, state);
    if (state == State::NotQueued)
        emit notDelivered(ip, message.datagram);
    return state;
}

// Whatever waits for the peer just heard goes out now, oldest first, to where it is now (ip).
void Deliveries::flushOutbox(const QByteArray &peerKey, const QString &ip)
{
    if (peerKey.isEmpty() || outbox_->count(peerKey) == 0)
        return;
    if (security_.peerKey(ip) != peerKey)
        return;
    for (const Outbox::Entry &entry : outbox_->waitingFor(peerKey)) {
        const QByteArray id = entry.message.id.bytes();
        if (inFlight_.contains(id))
            continue;
        launch(ip, peerKey, entry.message, true);
        if (entry.ip != ip)
            list(ip, {id, entry.message.datagram, QDateTime::currentDateTime(), State::Sending});
    }
}

bool Deliveries::resend(const QString &ip, const QByteArray &id)
{
    if (inFlight_.contains(id))
        return false;
    for (const Outbox::Entry &entry : outbox_->waitingFor(security_.pinnedKey(ip)))
        if (entry.message.id.bytes() == id) {
            if (security_.peerKey(ip) != entry.peerKey)
                return false; // not there: it stays waiting
            launch(ip, entry.peerKey, entry.message, true);
            return true;
        }
    return false;
}

bool Deliveries::cancel(const QString &ip, const QByteArray &id)
{
    if (inFlight_.contains(id) || !outbox_->remove(id))
        return false;
    QList<Sent> &sent = conversations_[ip];
    sent.removeIf([&](const Sent &s) { return s.id == id; });
    emit changed(ip);
    return true;
}

void Deliveries::receiptArrived(const QByteArray &senderKey, const QByteArray &id)
{
    const auto flight = inFlight_.value(id);
    // Only the peer the message went to can confirm it.
    if (flight && flight->peerKey == senderKey) {
        lastReceiptMs_.insert(senderKey, clock_.elapsed());
        inFlight_.remove(id);
        outbox_->remove(id);
        if (flight->listed)
            setState(flight->ip, id, State::Delivered);
        emit stateChanged(flight->ip, id, State::Delivered);
        // The peer answers: what waits for it goes now.
        flushOutbox(senderKey, flight->ip);
        return;
    }
    // A late receipt of a message that waits: it did arrive.
    for (const Outbox::Entry &entry : outbox_->waitingFor(senderKey))
        if (entry.message.id.bytes() == id) {
            outbox_->remove(id);
            setState(entry.ip, id, State::Delivered);
            return;
        }
}

void Deliveries::list(const QString &ip, const Sent &sent)
{
    QList<Sent> &all = conversations_[ip];
    all << sent;
    emit stateChanged(ip, sent.id, sent.state);
    // The oldest settled ones make room; anything still waiting stays.
    for (qsizetype i = 0; all.size() > KeptPerAddress && i < all.size();) {
        if (all[i].state == State::Delivered || all[i].state == State::NoReceipt || all[i].state == State::NotQueued)
            all.removeAt(i);
        else
            ++i;
    }
    emit changed(ip);
}

void Deliveries::setState(const QString &ip, const QByteArray &id, State state)
{
    for (Sent &sent : conversations_[ip])
        if (sent.id == id && sent.state != state) {
            sent.state = state;
            emit changed(ip);
            if (state != State::Delivered) // said by receiptArrived, for automatic replies too
                emit stateChanged(ip, id, state);
        }
}

void Deliveries::loadSequences()
{
    const QString path = fileIn(configDir_, SequenceFileName);
    QByteArray content;
    QString why;
    if (path.isEmpty() || PrivateFile::read(path, 16 << 20, &content, &why) != PrivateFile::ReadResult::Read
        || !content.startsWith(SequenceHeader))
        return; // lost sequences only cost the peer's order for the next messages
    for (const QByteArray &line : content.mid(SequenceHeader.size()).split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        bool ok = false;
        const quint32 sequence = f.size() == 2 ? f[1].toUInt(&ok) : 0;
        if (ok)
            sequences_.insert(QByteArray::fromHex(f[0]), sequence);
    }
}

void Deliveries::saveSequences()
{
    const QString path = fileIn(configDir_, SequenceFileName);
    if (path.isEmpty() || sequences_.isEmpty())
        return;
    QByteArray content = SequenceHeader;
    for (auto it = sequences_.cbegin(); it != sequences_.cend(); ++it)
        content += it.key().toHex() + ' ' + QByteArray::number(it.value()) + '\n';
    QString why;
    if (!PrivateFile::write(path, content, &why))
        qWarning("%s", qPrintable(why));
}
