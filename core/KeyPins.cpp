#include "core/KeyPins.h"

#include <QDir>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString PinSection = u"PinSection"_s;
const QString ChangedSection = u"ChangedSection"_s;
const QString VerifiedSection = u"VerifiedSection"_s;

} // namespace

KeyPins::KeyPins(const QString &folder) : ini_(QDir(folder).filePath(FileName)) {}

KeyPins::Seen KeyPins::observe(const QString &address, const QByteArray &key)
{
    const QByteArray here = pinned(address);
    if (here == key)
        return Seen::Pinned;
    if (!here.isEmpty()) {
        ini_.writeString(ChangedSection, address, key.toHex());
        return Seen::Changed;
    }
    // Nothing pinned here: the peer may have moved from another address with its key.
    const QString before = addressOfKey(key);
    if (!before.isEmpty())
        ini_.deleteKey(PinSection, before);
    ini_.writeString(PinSection, address, key.toHex());
    ini_.deleteKey(ChangedSection, address);
    return before.isEmpty() ? Seen::FirstContact : Seen::Pinned;
}

bool KeyPins::noteAnnounced(const QString &address, const QByteArray &key)
{
    const QByteArray here = pinned(address);
    if (here.isEmpty() || key.isEmpty())
        return false;
    const QByteArray waiting = changedTo(address);
    if (here == key) {
        // The peer announces its pinned key again: a change recorded from a forged
        // announcement is over.
        if (!waiting.isEmpty())
            ini_.deleteKey(ChangedSection, address);
        return false;
    }
    // Each keep-alive repeats the announcement: the file is written only when it says more.
    if (waiting != key)
        ini_.writeString(ChangedSection, address, key.toHex());
    return true;
}

QByteArray KeyPins::pinned(const QString &address) const
{
    return QByteArray::fromHex(ini_.readString(PinSection, address));
}

QByteArray KeyPins::changedTo(const QString &address) const
{
    return QByteArray::fromHex(ini_.readString(ChangedSection, address));
}

void KeyPins::acceptChange(const QString &address)
{
    const QByteArray key = changedTo(address);
    if (key.isEmpty())
        return;
    ini_.deleteKey(VerifiedSection, hexKey(pinned(address)));
    ini_.writeString(PinSection, address, key.toHex());
    ini_.deleteKey(ChangedSection, address);
}

bool KeyPins::isVerified(const QString &address) const
{
    const QByteArray key = pinned(address);
    return !key.isEmpty() && ini_.readInteger(VerifiedSection, hexKey(key)) == 1;
}

void KeyPins::setVerified(const QString &address, bool verified)
{
    const QByteArray key = pinned(address);
    if (key.isEmpty())
        return;
    if (verified)
        ini_.writeInteger(VerifiedSection, hexKey(key), 1);
    else
        ini_.deleteKey(VerifiedSection, hexKey(key));
}

QString KeyPins::addressOfKey(const QByteArray &key) const
{
    const std::optional<QByteArray> address = ini_.contents().keyWithValue(PinSection, key.toHex());
    return address ? QString::fromLatin1(*address) : QString();
}
