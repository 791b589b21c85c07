#include "ui/UnreadMarks.h"

#include "ui/UnreadCounts.h"

#include <QListWidget>

using namespace Qt::Literals::StringLiterals;

UnreadMarks::UnreadMarks(QListWidget &list, const UnreadCounts &counts,
                         std::function<QString(const QString &)> ipOf, QObject *parent)
    : QObject(parent), list_(list), counts_(counts), ipOf_(std::move(ipOf))
{
    connect(&counts, &UnreadCounts::changed, this, &UnreadMarks::refresh);
    connect(list.model(), &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int first, int last) {
        for (int row = first; row <= last; ++row)
            if (QListWidgetItem *item = list_.item(row))
                mark(*item);
    });
}

QString UnreadMarks::marked(const QString &entry, int count)
{
    return count > 0 ? entry + u" ("_s + QString::number(count) + u")"_s : entry;
}

QString UnreadMarks::entryOf(const QListWidgetItem &item)
{
    const QVariant entry = item.data(EntryRole);
    return entry.isValid() ? entry.toString() : item.text();
}

void UnreadMarks::refresh()
{
    for (int row = 0; row < list_.count(); ++row)
        mark(*list_.item(row));
}

void UnreadMarks::mark(QListWidgetItem &item)
{
    const QString entry = entryOf(item);
    const QString ip = ipOf_(entry);
    const int count = ip.isEmpty() ? 0 : counts_.count(ip);
    const QString text = marked(entry, count);
    if (count > 0)
        item.setData(EntryRole, entry);
    else
        item.setData(EntryRole, QVariant());
    if (item.text() != text)
        item.setText(text);
}
