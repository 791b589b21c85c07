#include "ui/UnreadCounts.h"

using namespace Qt::Literals::StringLiterals;

void UnreadCounts::add(const QString &ip)
{
    auto it = counts_.find(ip);
    if (it == counts_.end()) {
        if (counts_.size() >= maxHosts_)
            return;
        it = counts_.insert(ip, 0);
    }
    if (*it >= MaxCount)
        return;
    ++*it;
    ++total_;
    emit changed(ip);
}

void UnreadCounts::clear(const QString &ip)
{
    const auto it = counts_.constFind(ip);
    if (it == counts_.cend())
        return;
    total_ -= *it;
    counts_.erase(it);
    emit changed(ip);
}

QString UnreadCounts::badge(int count)
{
    if (count <= 0)
        return {};
    return count > 99 ? u"99+"_s : QString::number(count);
}
