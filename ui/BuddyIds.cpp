#include "ui/BuddyIds.h"

#include "core/ContactStore.h"
#include "core/PresenceDatagram.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString Section = u"PresenceIdSection"_s;
// Entry numbers looked at: those a Count can reach (see ContactStore).
constexpr qint64 MaxKey = std::numeric_limits<int>::max();

} // namespace

BuddyIds::BuddyIds(ContactStore &store) : store_(store), ini_(store.fileName()) {}

QString BuddyIds::open(bool remember)
{
    if (remember)
        return store_.openKeepingBuddies();
    ini_.eraseSection(Section);
    return store_.openAndReset();
}

std::optional<QString> BuddyIds::keyOf(const QByteArray &id) const
{
    const QByteArray hex = id.toHex().toUpper();
    for (const auto &[number, value] : ini_.contents().numberedValues(Section, MaxKey))
        if (value.toUpper() == hex && !store_.buddyEntry(QString::number(number)).isEmpty())
            return QString::number(number);
    return std::nullopt;
}

QList<QByteArray> BuddyIds::ids() const
{
    QList<QByteArray> list;
    for (const auto &[number, value] : ini_.contents().numberedValues(Section, MaxKey)) {
        const QByteArray id = QByteArray::fromHex(value);
        if (PresenceDatagram::isValidId(id) && !store_.buddyEntry(QString::number(number)).isEmpty())
            list << id;
    }
    return list;
}

bool BuddyIds::follow(const NearbyPeer &peer)
{
    if (const std::optional<QString> key = keyOf(peer.id)) {
        // Ids are heard by the whole LAN: while the buddy is still heard at its address, the
        // same id from another address is someone else's claim, not a new lease.
        if (peer.addresses.contains(store_.buddyIp(*key)) || !store_.buddyKey(peer.address).isEmpty())
            return false;
        store_.setBuddyIp(*key, peer.address);
        return true;
    }
    const QString key = store_.buddyKey(peer.address);
    if (!key.isEmpty() && ini_.readString(Section, key).isEmpty())
        ini_.writeString(Section, key, peer.id.toHex().toUpper());
    return false;
}

bool BuddyIds::isBuddy(const NearbyPeer &peer) const
{
    for (const QString &address : peer.addresses)
        if (!store_.buddyKey(address).isEmpty())
            return true;
    return !store_.buddyKey(peer.address).isEmpty() || keyOf(peer.id).has_value();
}

void BuddyIds::forget(const QString &key) { ini_.deleteKey(Section, key); }
