#include "ui/HistoryHitModel.h"

#include "core/LocalTime.h"

using namespace Qt::Literals::StringLiterals;

QString HistoryHitModel::directionText(MessageDirection direction)
{
    switch (direction) {
    case MessageDirection::Sent: return u"发出"_s;
    case MessageDirection::AutoReply: return u"自动回复"_s;
    case MessageDirection::Received: break;
    }
    return u"收到"_s;
}

QString HistoryHitModel::timeText(const QDateTime &time)
{
    return LocalTime::shortDate(time.date()) + u' ' + LocalTime::longTime(time.time());
}

void HistoryHitModel::setHits(const QList<SearchHit> &hits)
{
    beginResetModel();
    hits_ = hits;
    endResetModel();
}

void HistoryHitModel::appendHits(const QList<SearchHit> &hits)
{
    if (hits.isEmpty())
        return;
    beginInsertRows({}, int(hits_.size()), int(hits_.size() + hits.size() - 1));
    hits_.append(hits);
    endInsertRows();
}

int HistoryHitModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(hits_.size());
}

QVariant HistoryHitModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= hits_.size())
        return {};
    const SearchHit &found = hits_.at(index.row());
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return QString(found.buddy + u"  "_s + timeText(found.time) + u"  "_s + directionText(found.direction)
                       + u"\n"_s + found.excerpt);
    return {};
}
