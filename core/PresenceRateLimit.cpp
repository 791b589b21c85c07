#include "core/PresenceRateLimit.h"

bool PresenceRateLimit::allow(const QString &sender, qint64 nowMs)
{
    auto it = senders_.find(sender);
    if (it == senders_.end()) {
        if (senders_.size() >= maxSenders)
            senders_.removeIf([&](const auto &entry) { return nowMs - entry.value().startMs >= windowMs; });
        if (senders_.size() >= maxSenders)
            return false;
        it = senders_.insert(sender, Window{nowMs, 0});
    }
    if (nowMs - it->startMs >= windowMs)
        *it = Window{nowMs, 0};
    if (it->count >= perWindow)
        return false;
    ++it->count;
    return true;
}
