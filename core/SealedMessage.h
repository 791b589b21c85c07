#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

// The id of a message between peers of this program: the sender installation's random 8-byte
// prefix and its message counter (never 0). Unique per sender.
struct MessageId {
    static constexpr int Size = 16;
    QByteArray prefix; // 8 bytes
    quint64 counter = 0;

    QByteArray bytes() const;
    static std::optional<MessageId> parse(const QByteArray &bytes);
    bool operator==(const MessageId &other) const = default;
};

// What a sealed envelope of inner kind Message carries (integers big-endian):
//   offset size
//    0      16  the message id
//   16       4  sequence: this message's place among the sender's messages to this receiver,
//               from 1 up
//   20      n   the base datagram: "1" (message) or "6" (automatic reply) and its GBK text,
//               at most 255 bytes
// A receipt (inner kind Receipt) carries the 16-byte id of the copy it answers, nothing more.
struct SealedMessage {
    static constexpr int HeaderSize = MessageId::Size + 4;
    static constexpr int MaxDatagramSize = 255;

    MessageId id;
    quint32 sequence = 0;
    QByteArray datagram;

    QByteArray bytes() const;
    // Nothing for a wrong size, a zero counter or sequence, or a datagram of another type.
    static std::optional<SealedMessage> parse(const QByteArray &bytes);
};
