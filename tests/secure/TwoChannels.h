#pragma once

#include "secure/IdentityKey.h"
#include "secure/SealedChannel.h"

#include <QByteArray>
#include <QList>

#include <functional>

// A key lookup as a peer table gives it: the public key among keys whose id is asked for.
inline std::function<QByteArray(const QByteArray &)> knowing(QList<QByteArray> keys)
{
    return [keys](const QByteArray &id) {
        for (const QByteArray &key : keys)
            if (IdentityKey::keyIdOf(key) == id)
                return key;
        return QByteArray();
    };
}

// Two installations, a and b, that know each other's key; their channels keep nothing on disk.
struct TwoChannels {
    IdentityKey a = IdentityKey::generate();
    IdentityKey b = IdentityKey::generate();
    SealedChannel fromA{a, {}, {}};
    SealedChannel atB{b, {}, {}};
    std::function<QByteArray(const QByteArray &)> bKnows = knowing({a.publicKey()});
    std::function<QByteArray(const QByteArray &)> aKnows = knowing({b.publicKey()});
};
