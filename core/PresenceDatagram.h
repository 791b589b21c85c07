#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// One presence datagram: the "8" extension of the datagram protocol that lets peers find each
// other on the LAN (docs/presence.md gives the layout byte for byte). A value with a builder
// and a parser; the parser never throws and rejects anything it cannot read whole. The
// nickname is kept as the bytes that came from the network: displayNickname() is the only
// way to show it, as plain text.
class PresenceDatagram {
public:
    enum class Kind : char {
        Hello = 'H',     // "I am here, answer me": sent at start, on a new interface, on refresh
        Answer = 'A',    // unicast reply to a hello; never answered
        KeepAlive = 'K', // periodic or after a change of nickname or status; never answered
        Goodbye = 'G',   // "I am leaving": the peer id only
    };

    static constexpr char TypeDigit = '8';
    static constexpr quint8 Version = 1;
    static constexpr int IdSize = 16;
    // A whole datagram, "8" included: the receive buffer of every peer's dispatcher.
    static constexpr int MaxDatagramSize = 255;
    static constexpr int MaxNicknameBytes = 20;
    // Bytes before the peer id, and before the nickname, of a datagram.
    static constexpr int HeaderSize = 3;
    static constexpr int GoodbyeSize = HeaderSize + IdSize;
    static constexpr int FixedSize = GoodbyeSize + 4;

    // Capability flags (a set of bits; bits this version does not know are dropped by parse).
    static constexpr quint16 CapabilityGb18030 = 0x0001; // message text may be GB18030
    // Datagrams to this peer may be sealed; its identity key follows the nickname.
    static constexpr quint16 CapabilitySealed = 0x0002;
    // Several files and folders go in one sealed offer, resumable (docs/file-sets.md); only
    // together with CapabilitySealed.
    static constexpr quint16 CapabilityFileSets = 0x0004;
    static constexpr quint16 KnownCapabilities = CapabilityGb18030 | CapabilitySealed | CapabilityFileSets;
    static constexpr int PublicKeySize = 32;

    Kind kind = Kind::Hello;
    QByteArray id;         // IdSize random bytes, never all zero
    quint8 statusMode = 0; // the status flag: 1 normal, 0 secure; other values kept as data
    quint16 capabilities = 0;
    QByteArray nickname; // GBK bytes, at most MaxNicknameBytes; not sent in a goodbye
    // The peer's public identity key (PublicKeySize bytes), in the extension area after the
    // nickname; present exactly when CapabilitySealed is set.
    QByteArray publicKey;

    // The datagram as it goes on the wire. A nickname longer than MaxNicknameBytes is cut on
    // a GBK character boundary; CapabilitySealed goes out only with a key of the right size.
    // Returns an empty array when id is not a valid id.
    QByteArray build() const;
    // Reads a whole datagram ("8" first). nullopt for: another type, another version, an
    // unknown kind, a wrong or all-zero id, a truncated datagram, a nickname longer than
    // MaxNicknameBytes, a datagram longer than MaxDatagramSize. Bytes after the fields are
    // ignored (room for later extensions). CapabilitySealed without the whole key after the
    // nickname is read as not announced.
    static std::optional<PresenceDatagram> parse(const QByteArray &datagram);

    // The nickname decoded from GBK for display: invalid bytes become U+FFFD and control
    // characters '?'. Markup stays as literal text: show it only as plain text.
    QString displayNickname() const;
    bool supportsGb18030() const { return (capabilities & CapabilityGb18030) != 0; }
    bool supportsSealing() const { return (capabilities & CapabilitySealed) != 0; }
    bool supportsFileSets() const { return (capabilities & CapabilityFileSets) != 0; }
    static bool isValidId(const QByteArray &id);

    friend bool operator==(const PresenceDatagram &, const PresenceDatagram &) = default;
};
