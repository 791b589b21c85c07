#pragma once

// The data of the file-set benchmark: a tree of many small files, the check that a received
// tree holds what its manifest lists, and a file's hash.
#include "bench/BenchOptions.h"
#include "fileset/SetWalk.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <sodium.h>

#include <cstdio>
#include <vector>

namespace SetFiles {

constexpr int FilesPerFolder = 100;
constexpr qint64 SmallFileBytes = 4096;
// Every this-many-th folder holds its files DeepLevels folders further down, so the tree is
// not flat.
constexpr int DeepEvery = 4;
constexpr int DeepLevels = 3;

// Writes count files of SmallFileBytes pseudo-random bytes (each file its own bytes, the same in
// every run) under root/tree: folders d000, d001 ... of FilesPerFolder files each, every
// DeepEvery-th with its files in a/b/c below it. The tree's top folder.
inline QString makeTree(const QString &root, int count)
{
    const QString top = root + QStringLiteral("/tree");
    std::vector<unsigned char> bytes(SmallFileBytes);
    unsigned state = 54321;
    for (int i = 0; i < count; ++i) {
        const int folderNumber = i / FilesPerFolder;
        QString folder = top + QStringLiteral("/d%1").arg(folderNumber, 3, 10, QLatin1Char('0'));
        if (folderNumber % DeepEvery == DeepEvery - 1)
            folder += QStringLiteral("/a/b/c");
        if (i % FilesPerFolder == 0 && !QDir().mkpath(folder))
            fail("make the tree's folders");
        for (unsigned char &c : bytes)
            c = (state = state * 1103515245u + 12345u) >> 24;
        const QString path = folder
            + QStringLiteral("/f%1.bin").arg(i % FilesPerFolder, 3, 10, QLatin1Char('0'));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)
            || file.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()))
                != qint64(bytes.size()))
            fail("write the tree's files");
    }
    return top;
}

// The set of the chosen paths as the send window lists it; the program ends when it cannot.
inline LocalSet walk(const QStringList &chosen)
{
    QString error;
    std::optional<LocalSet> local = walkSet(chosen, NameEncoding::Utf8, &error);
    if (!local) {
        std::fprintf(stderr, "file sets: %s\n", qPrintable(error));
        std::exit(1);
    }
    return *local;
}

// Whether a file holds the same bytes as another.
inline bool sameBytes(const QString &a, const QString &b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd())
        if (fa.read(1 << 16) != fb.read(1 << 16))
            return false;
    return true;
}

// The entries of local that are missing or differ under root (the folder the set's top names
// went to), each file compared byte for byte with its source.
inline int differences(const LocalSet &local, const QString &root)
{
    int wrong = 0;
    for (qsizetype i = 0; i < local.manifest.entries.size(); ++i) {
        const ManifestEntry &entry = local.manifest.entries[i];
        const QString received = root + u'/' + entry.path;
        const bool right = entry.isFolder() ? QFileInfo(received).isDir()
                                            : sameBytes(local.localPaths[i], received);
        wrong += right ? 0 : 1;
    }
    return wrong;
}

// BLAKE2b-256 of a file's bytes (libsodium), as hexadecimal; empty when it cannot be read.
inline QByteArray fileHash(const QString &path)
{
    QFile file(path);
    if (sodium_init() < 0 || !file.open(QIODevice::ReadOnly))
        return {};
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES);
    while (!file.atEnd()) {
        const QByteArray block = file.read(1 << 20);
        if (block.isEmpty())
            return {};
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(block.constData()),
                                  quint64(block.size()));
    }
    QByteArray hash(crypto_generichash_BYTES, '\0');
    crypto_generichash_final(&state, reinterpret_cast<unsigned char *>(hash.data()), size_t(hash.size()));
    return hash.toHex();
}

} // namespace SetFiles
