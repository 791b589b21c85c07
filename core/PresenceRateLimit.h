#pragma once

#include <QHash>
#include <QString>

// Limits how many presence datagrams one sender address may have handled per window of time
// (a fixed window per sender). The senders remembered are bounded too: when MaxSenders are
// remembered and none of their windows has ended, a new sender is refused until one has.
class PresenceRateLimit {
public:
    static constexpr int DefaultPerWindow = 10;
    static constexpr qint64 DefaultWindowMs = 10'000;
    static constexpr int MaxSenders = 4096;

    // True when a datagram from sender at nowMs (monotonic) may be handled.
    bool allow(const QString &sender, qint64 nowMs);

    int perWindow = DefaultPerWindow;
    qint64 windowMs = DefaultWindowMs;
    int maxSenders = MaxSenders;

private:
    struct Window {
        qint64 startMs = 0;
        int count = 0;
    };
    QHash<QString, Window> senders_;
};
