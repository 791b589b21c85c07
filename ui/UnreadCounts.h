#pragma once

#include <QHash>
#include <QObject>
#include <QString>

// Messages shown but not yet seen, counted per sending host: what the buddy list's marks and
// the tray icon's badge show. A host's count is cleared when the window holding its messages
// is activated or closed. Bounded: at most maxHosts() hosts are counted at once (a flood from
// forged addresses cannot grow the table; a host past the bound is not counted) and a count
// stops at MaxCount.
class UnreadCounts : public QObject {
    Q_OBJECT
public:
    // More hosts than a LAN's people writing at once.
    static constexpr int MaxHosts = 1024;
    // Beyond what any mark shows.
    static constexpr int MaxCount = 9999;

    using QObject::QObject;

    int maxHosts() const { return maxHosts_; }
    void setMaxHosts(int hosts) { maxHosts_ = hosts; }

    // One more unread message from ip.
    void add(const QString &ip);
    // ip's messages have been seen.
    void clear(const QString &ip);
    int count(const QString &ip) const { return counts_.value(ip); }
    int total() const { return total_; }
    qsizetype hosts() const { return counts_.size(); }

    // A count as a badge shows it: nothing for 0, "1" to "99", then "99+".
    static QString badge(int count);

signals:
    // ip's count changed (and with it the total).
    void changed(const QString &ip);

private:
    QHash<QString, int> counts_;
    int total_ = 0;
    int maxHosts_ = MaxHosts;
};
