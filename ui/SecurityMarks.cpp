#include "ui/SecurityMarks.h"

#include "core/PeerSecurity.h"
#include "core/PresenceService.h"
#include "ui/MarkedItemDelegate.h"
#include "ui/SecurityText.h"

#include <QListWidget>

SecurityMarks::SecurityMarks(QListWidget &list, PeerSecurity &security, PresenceService &presence,
                             std::function<QString(const QListWidgetItem &)> ipOf, QObject *parent)
    : QObject(parent), list_(list), security_(security), ipOf_(std::move(ipOf))
{
    connect(&security, &PeerSecurity::peerChanged, this, &SecurityMarks::refresh);
    connect(&security, &PeerSecurity::identityChanged, this, &SecurityMarks::refresh);
    connect(&presence, &PresenceService::peerFound, this, &SecurityMarks::refresh);
    connect(&presence, &PresenceService::peerChanged, this, &SecurityMarks::refresh);
    connect(&presence, &PresenceService::peerGone, this, &SecurityMarks::refresh);
    connect(list.model(), &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int first, int last) {
        for (int row = first; row <= last; ++row)
            if (QListWidgetItem *item = list_.item(row))
                mark(*item);
    });
}

void SecurityMarks::refresh()
{
    for (int row = 0; row < list_.count(); ++row)
        mark(*list_.item(row));
}

void SecurityMarks::mark(QListWidgetItem &item)
{
    const QString ip = ipOf_(item);
    const PeerSecurity::Link link = ip.isEmpty() ? PeerSecurity::Link::Plain : security_.linkTo(ip);
    QString text = link == PeerSecurity::Link::Sealed ? QString() : SecurityText::shortState(link, false);
    if (!ip.isEmpty() && !security_.sameKeyElsewhere(ip).isEmpty())
        text = SecurityText::sameKeyMark();
    if (item.data(MarkedItemDelegate::MarkRole).toString() == text)
        return;
    item.setData(MarkedItemDelegate::MarkRole, text);
    item.setData(Qt::AccessibleDescriptionRole, text);
}
