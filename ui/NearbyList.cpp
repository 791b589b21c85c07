#include "ui/NearbyList.h"

#include "core/PresenceService.h"
#include "ui/ListKeys.h"
#include "ui/MarkedItemDelegate.h"
#include "ui/SecurityText.h"
#include "ui/PaneColors.h"
#include "ui/PlainToolTip.h"

#include <QMenu>

using namespace Qt::Literals::StringLiterals;

namespace {

QString statusName(quint8 mode)
{
    switch (mode) {
    case 0: return u"安全"_s;
    case 1: return u"一般"_s;
    default: return u"状态%1"_s.arg(mode);
    }
}

} // namespace

NearbyList::NearbyList(BuddyTest isBuddy, QWidget *parent) : QListWidget(parent), isBuddy_(std::move(isBuddy))
{
    setObjectName(u"nearbylist"_s);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new MarkedItemDelegate(12, this));
    setPaneColors(this, QColor(226, 236, 245));
    setContextMenuPolicy(Qt::CustomContextMenu);
    menu = new QMenu(this);
    addFriend = menu->addAction(u"加为好友"_s);
    refresh = menu->addAction(u"刷新"_s);
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        setCurrentItem(item);
        requestSelected();
    });
    connect(addFriend, &QAction::triggered, this, &NearbyList::requestSelected);
    connect(refresh, &QAction::triggered, this, &NearbyList::refreshRequested);
    connect(this, &QListWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        addFriend->setEnabled(selectedPeer().has_value());
        menu->popup(viewport()->mapToGlobal(pos));
    });
    new ListKeys(*this, [this] { requestSelected(); });
}

void NearbyList::follow(PresenceService &service)
{
    connect(&service, &PresenceService::peerFound, this, &NearbyList::put);
    connect(&service, &PresenceService::peerChanged, this, &NearbyList::put);
    connect(&service, &PresenceService::peerGone, this, &NearbyList::drop);
    for (const NearbyPeer &peer : service.peers())
        put(peer);
}

QString NearbyList::itemText(const NearbyPeer &peer)
{
    const QString name = peer.displayNickname.isEmpty() ? peer.address : peer.displayNickname;
    return name + u" ("_s + statusName(peer.statusMode) + u")"_s;
}

QListWidgetItem *NearbyList::itemOf(const QByteArray &id) const
{
    for (int row = 0; row < count(); ++row)
        if (item(row)->data(Qt::UserRole).toByteArray() == id)
            return item(row);
    return nullptr;
}

void NearbyList::put(const NearbyPeer &peer)
{
    peers_.insert(peer.id, peer);
    show(peer);
}

// The peer's item as it must be now: none for a buddy.
void NearbyList::show(const NearbyPeer &peer)
{
    QListWidgetItem *item = itemOf(peer.id);
    if (isBuddy_(peer)) {
        if (!item)
            return;
        delete item;
        emit listChanged();
        return;
    }
    if (!item) {
        item = new QListWidgetItem(this);
        item->setData(Qt::UserRole, peer.id);
    }
    item->setText(itemText(peer));
    // A peer that announced no key gets our datagrams in the clear: it says so beside its name.
    QString mark = (peer.capabilities & PresenceDatagram::CapabilitySealed) ? QString() : u"未加密"_s;
    if (sharesKey(peer))
        mark = SecurityText::sameKeyMark();
    item->setData(MarkedItemDelegate::MarkRole, mark);
    item->setData(Qt::AccessibleDescriptionRole, mark);
    item->setToolTip(plainToolTip(peer.displayNickname + u"\n"_s + peer.addresses.join(u"\n"_s)));
    emit listChanged();
}

// Whether another peer, or another address of this one, announces the peer's key: a cloned
// installation, which the person is told to reset.
bool NearbyList::sharesKey(const NearbyPeer &peer) const
{
    if (peer.publicKey.isEmpty())
        return false;
    if (peer.heardFromTwoHosts)
        return true;
    return std::any_of(peers_.cbegin(), peers_.cend(),
                       [&](const NearbyPeer &other) { return other.id != peer.id && other.publicKey == peer.publicKey; });
}

void NearbyList::drop(const QByteArray &id)
{
    peers_.remove(id);
    if (QListWidgetItem *item = itemOf(id)) {
        delete item;
        emit listChanged();
    }
}

void NearbyList::refilter()
{
    for (const NearbyPeer &peer : std::as_const(peers_))
        show(peer);
}

QList<NearbyPeer> NearbyList::shown() const
{
    QList<NearbyPeer> list;
    for (int row = 0; row < count(); ++row)
        list << peers_.value(item(row)->data(Qt::UserRole).toByteArray());
    return list;
}

std::optional<NearbyPeer> NearbyList::selectedPeer() const
{
    const QList<QListWidgetItem *> items = selectedItems();
    if (items.isEmpty())
        return std::nullopt;
    return peers_.value(items.first()->data(Qt::UserRole).toByteArray());
}

void NearbyList::requestSelected()
{
    if (const std::optional<NearbyPeer> peer = selectedPeer())
        emit friendRequested(peer->address);
}
