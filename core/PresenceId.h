#pragma once

#include <QByteArray>
#include <QString>

// The peer id of this installation: 16 random bytes made once and kept, as 32 hexadecimal
// digits, in the file FileName in the contact store's folder (private, 0600). A missing or
// damaged file is replaced by a new id; when the file cannot be written the new id serves
// this run only.
class PresenceId {
public:
    static inline const QString FileName = QStringLiteral("presence.id");

    // The id kept in folder, made and stored there first when there is none.
    static QByteArray loadOrCreate(const QString &folder);
    // A new random id (never all zero).
    static QByteArray generate();
};
