#pragma once

#include "core/IniFile.h"
#include "core/NearbyTable.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

class ContactStore;

// The presence ids of the buddies, kept in myinfo.ini in a section of their own
// (PresenceIdSection: entry number = 32 hexadecimal digits), so that a buddy is known by its
// id as well as by its address. A buddy whose id presence reports from a new address (a new
// lease) is followed there: its address in the contact store moves. Buddies heard from no
// presence (base-protocol peers) have no id and are kept by address alone.
class BuddyIds {
public:
    explicit BuddyIds(ContactStore &store);

    // Opens the contact store at start-up: remembering, the buddies of the last run and their
    // ids stay; otherwise the lists are erased as they always were, and the ids with them.
    // Returns the own nickname.
    QString open(bool remember);
    // A peer presence reports: a buddy at its address that has no id yet learns it; a buddy
    // with its id moves to its address once it is no longer heard at its old one, unless
    // another buddy is there. True when a buddy moved.
    bool follow(const NearbyPeer &peer);
    // Whether the peer is a buddy, by one of its addresses or by its id.
    bool isBuddy(const NearbyPeer &peer) const;
    // The buddy of entry key was deleted: its id goes too.
    void forget(const QString &key);
    // The ids of the buddies that have one.
    QList<QByteArray> ids() const;

private:
    std::optional<QString> keyOf(const QByteArray &id) const;

    ContactStore &store_;
    IniFile ini_;
};
