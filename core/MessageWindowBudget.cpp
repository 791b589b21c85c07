#include "core/MessageWindowBudget.h"

#include <QStringList>

bool MessageWindowBudget::allows(const QString &ip)
{
    const qint64 now = clock_.elapsed();
    sweep(now);
    forgetExpired(ip, now);
    const auto host = hosts_.constFind(ip);
    return host == hosts_.cend() || qsizetype(host->openedAt.size()) < limit_;
}

void MessageWindowBudget::opened(const QString &ip, QObject *window)
{
    Host &host = hosts_[ip];
    host.openedAt.push_back(clock_.elapsed());
    host.newest = window;
}

QObject *MessageWindowBudget::newest(const QString &ip) const
{
    const auto host = hosts_.constFind(ip);
    return host == hosts_.cend() ? nullptr : host->newest.data();
}

void MessageWindowBudget::forgetExpired(const QString &ip, qint64 now)
{
    const auto host = hosts_.find(ip);
    if (host == hosts_.end())
        return;
    std::deque<qint64> &times = host->openedAt;
    while (!times.empty() && now - times.front() >= periodMs_)
        times.pop_front();
    if (times.empty())
        hosts_.erase(host);
}

// Once a period, hosts that opened nothing within it are forgotten, so that the table holds
// only the hosts of the last period however many addresses wrote.
void MessageWindowBudget::sweep(qint64 now)
{
    if (now - lastSweep_ < periodMs_)
        return;
    lastSweep_ = now;
    const QStringList ips = hosts_.keys();
    for (const QString &ip : ips)
        forgetExpired(ip, now);
}
