#pragma once

#include "core/IniFile.h"

#include <QByteArray>
#include <QString>

// The identity keys of the peers we exchanged sealed datagrams with, kept in a file of their
// own (peerkeys.ini beside myinfo.ini, so that erasing the friend list at start does not
// forget them). A peer's key is pinned to its address at the first sealed exchange and
// follows the peer to a new address; a different key at a pinned address is a change that
// waits for the person, never taken silently. The "compared" mark belongs to the key and
// stays until the key really changes.
//   PinSection:      address = the pinned key in hexadecimal
//   ChangedSection:  address = the new key, while the change waits for the person
//   VerifiedSection: key     = 1, once the person compared the safety codes
class KeyPins {
public:
    static inline const QString FileName = QStringLiteral("peerkeys.ini");

    enum class Seen {
        FirstContact, // nothing was pinned for this key or address: pinned now
        Pinned,       // the pinned key (it may have followed the peer from another address)
        Changed,      // another key than the pinned one: the change waits for the person
    };

    explicit KeyPins(const QString &folder);

    // A sealed exchange with address under key.
    Seen observe(const QString &address, const QByteArray &key);
    // A key announced for address: a key other than the pinned one is recorded as a change
    // (nothing is pinned by an announcement alone). True when a change waits now.
    bool noteAnnounced(const QString &address, const QByteArray &key);

    QByteArray pinned(const QString &address) const;
    // The new key of a change waiting for the person; empty when none waits.
    QByteArray changedTo(const QString &address) const;
    // The person accepted the new key: it is pinned, and not marked compared.
    void acceptChange(const QString &address);

    bool isVerified(const QString &address) const;
    void setVerified(const QString &address, bool verified);

private:
    QString addressOfKey(const QByteArray &key) const;
    static QString hexKey(const QByteArray &key) { return QString::fromLatin1(key.toHex()); }

    IniFile ini_;
};
