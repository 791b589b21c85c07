#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The byte layout of a sealed datagram, version 1 (integers big-endian):
//   offset size
//    0      1   '9' (0x39): the packet type digit (a peer without envelopes ignores type 9)
//    1      1   version, 0x01
//    2      8   sender's key id (IdentityKey::keyIdOf of its public key)
//   10      8   counter: per sender, strictly increasing, kept across restarts, never 0
//   18     24   nonce: random
//   42      n   ciphertext of one inner kind byte and the inner bytes, with its 16-byte tag
// Bytes 0..41 are the associated data of XChaCha20-Poly1305, so the header cannot be changed
// without the envelope failing to open. docs/envelope.md says more.
class Envelope {
public:
    static constexpr char TypeDigit = '9';
    static constexpr quint8 Version = 0x01;
    static constexpr int VersionOffset = 1;
    static constexpr int KeyIdOffset = 2;
    static constexpr int KeyIdSize = 8;
    static constexpr int CounterOffset = 10;
    static constexpr int NonceOffset = 18;
    static constexpr int NonceSize = 24;
    static constexpr int HeaderSize = 42;
    static constexpr int TagSize = 16;
    static constexpr int Overhead = HeaderSize + 1 + TagSize; // 59
    static constexpr int MaxInnerSize = 1024;
    static constexpr int MaxDatagramSize = Overhead + MaxInnerSize;

    // Whether a datagram claims to be an envelope (its type digit); says nothing of its validity.
    static bool isSealed(QByteArrayView datagram) { return !datagram.isEmpty() && datagram[0] == TypeDigit; }
    // Whether the size and the fixed bytes of the header fit version 1.
    static bool hasValidHeader(QByteArrayView envelope);
    // The fields of a header; only for an envelope with a valid header.
    static QByteArrayView senderKeyId(QByteArrayView envelope) { return envelope.sliced(KeyIdOffset, KeyIdSize); }
    static quint64 counter(QByteArrayView envelope);
    // Writes the header of an envelope from the sender with keyId into out (HeaderSize bytes),
    // with a fresh random nonce.
    static void writeHeader(char *out, const char *keyId, quint64 counter);
};

// The inner kinds of an envelope: what its plaintext carries after the kind byte. Other values
// are kept for later extensions: they open like any other, and a reader ignores kinds it does
// not know.
namespace InnerKind {
// A datagram of the base protocol, its type digit first.
inline constexpr quint8 BaseDatagram = 0x01;
// A message or automatic reply with its id and place, answered by a receipt (docs/messages.md).
inline constexpr quint8 Message = 0x02;
// The receipt of one message's copy.
inline constexpr quint8 Receipt = 0x03;
// The offer of a file set (docs/file-sets.md).
inline constexpr quint8 SetOffer = 0x04;
// An answer about a file set: send (with what to send), cancelled or paused.
inline constexpr quint8 SetAnswer = 0x05;
} // namespace InnerKind
