#pragma once

#include "core/NearbyTable.h"

#include <QHash>
#include <QListWidget>
#include <functional>
#include <optional>

class PresenceService;
class QAction;
class QMenu;

// The main window's section of nearby peers that are not buddies: one item per peer id, its
// nickname and status as plain text, its address in the tooltip, following what presence
// reports. A double-click (or Enter) or the menu's "加为好友" asks for the ordinary friend request
// to the peer's address (friendRequested); "刷新" asks presence to look again. The menu opens
// from the keyboard too (ListKeys). A peer that becomes a buddy leaves the section (refilter)
// and comes back once it is a buddy no more.
class NearbyList : public QListWidget {
    Q_OBJECT
public:
    using BuddyTest = std::function<bool(const NearbyPeer &)>;

    explicit NearbyList(BuddyTest isBuddy, QWidget *parent = nullptr);

    // Follows the service's reports from now on, starting with the peers it sees now.
    void follow(PresenceService &service);
    // A peer found or changed; a peer that left.
    void put(const NearbyPeer &peer);
    void drop(const QByteArray &id);
    // Shows again exactly the peers that are not buddies (after the buddy list changed).
    void refilter();

    // The peers listed, in the list's order.
    QList<NearbyPeer> shown() const;
    std::optional<NearbyPeer> selectedPeer() const;
    // An item's text: the nickname (the address when it has none) and the status.
    static QString itemText(const NearbyPeer &peer);
    bool sharesKey(const NearbyPeer &peer) const;

    QMenu *menu;
    QAction *addFriend;
    QAction *refresh;

signals:
    void friendRequested(const QString &address);
    void refreshRequested();
    // The peers listed changed.
    void listChanged();

private:
    QListWidgetItem *itemOf(const QByteArray &id) const;
    void show(const NearbyPeer &peer);
    void requestSelected();

    BuddyTest isBuddy_;
    // Every peer presence reports, buddies too (bounded by presence's own table).
    QHash<QByteArray, NearbyPeer> peers_;
};
