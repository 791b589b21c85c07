// Fuzz target: the content of an opened envelope of the message kind, as a receiver takes it.
// Each input is split at its first byte, which picks the sender (one of four keys); the rest is
// the inner bytes. What parses must write back to the same bytes; it then goes to the arrival
// order, which must show each id at most once and hold no more than its bounds.
#include "core/ArrivalOrder.h"
#include "core/SealedMessage.h"
#include "fuzz/FuzzSupport.h"

#include <QSet>

#include <cstddef>
#include <cstdint>

using namespace Qt::Literals::StringLiterals;
using FuzzSupport::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // One order across inputs, as a receiver keeps it, with small bounds so that they are met;
    // started anew now and then, so that a long run stays within its memory.
    static ArrivalOrder order{QString()};
    static QSet<QByteArray> shownIds;
    static qint64 nowMs = 0;
    if (nowMs == 0 || shownIds.size() > 100'000) {
        order = ArrivalOrder{QString()};
        order.setMaxHeld(16);
        order.setHoldMs(100);
        order.setRememberedIds(1 << 30); // none forgotten: a forgotten id may rightly show again
        shownIds.clear();
    }
    if (size == 0)
        return 0;
    const int which = data[0] % 4;
    const QByteArray sender(32, char('a' + which));
    const QString fromIp = u"127.0.0.%1"_s.arg(2 + which); // tells the sender of a released arrival
    const QByteArray inner(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const std::optional<SealedMessage> message = SealedMessage::parse(inner);
    if (!message)
        return 0;
    require(message->bytes() == inner, u"a parsed message writes back to other bytes"_s);
    nowMs += 10;
    QList<ArrivalOrder::Arrival> shown;
    order.arrive(sender, {*message, fromIp, false, nowMs}, shown);
    shown += order.release(nowMs);
    for (const ArrivalOrder::Arrival &a : shown) {
        const QByteArray key = a.message.id.bytes() + a.fromIp.toLatin1();
        require(!shownIds.contains(key), u"a message shown twice"_s);
        shownIds.insert(key);
    }
    require(order.heldCount() <= 4 * 16, u"more held than the bounds allow"_s);
    return 0;
}
