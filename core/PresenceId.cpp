#include "core/PresenceId.h"

#include "core/PresenceDatagram.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>

QByteArray PresenceId::generate()
{
    QByteArray id(PresenceDatagram::IdSize, '\0');
    do {
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(id.data()),
                                              PresenceDatagram::IdSize / int(sizeof(quint32)));
    } while (!PresenceDatagram::isValidId(id));
    return id;
}

QByteArray PresenceId::loadOrCreate(const QString &folder)
{
    const QString path = QDir(folder).filePath(FileName);
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        // Read no more than an id's worth: the file is ours, but its size is not checked.
        const QByteArray id = QByteArray::fromHex(file.read(2 * PresenceDatagram::IdSize + 2).trimmed());
        if (PresenceDatagram::isValidId(id))
            return id;
    }
    const QByteArray id = generate();
    QSaveFile out(path);
    if (out.open(QIODevice::WriteOnly)) {
        out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        out.write(id.toHex() + '\n');
        out.commit();
    }
    return id;
}
