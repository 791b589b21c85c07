#pragma once

#include "history/HistoryTypes.h"
#include "history/Sqlite.h"

#include <QString>
#include <memory>

// Opening the history database file: checked, moved aside when it is damaged and made anew,
// private (mode 0600), in WAL mode.
namespace HistoryFile {

// Names tried for a damaged file (".damaged-<time>", then "-2", "-3" ...) before giving up.
constexpr int MaxAsideNames = 100;
// Memory mapped for reading: whole scans of the messages then read the pages in place.
constexpr qint64 MapBytes = qint64(1) << 30;
// The write-ahead log is cut back to this size after each checkpoint.
constexpr qint64 WalKeepBytes = qint64(8) << 20;

// The first connection of a session, the one that writes. A file that cannot be opened, is
// not a history database, or fails its check is renamed aside (never deleted) and a new one
// made; report says so. The check: after a clean end of the last session (no write-ahead log
// left behind) the file's length must match its page count, which costs nothing; after an
// unclean end (the program was killed, the machine lost power) PRAGMA quick_check reads the
// whole file once. Throws SqliteError when no database can be had at path, or when it was made
// by a newer version of the program (that file is left alone).
std::unique_ptr<SqliteConnection> openFirst(const QString &path, qint64 maxBytes, OpenReport *report);

// A further connection to a database that openFirst opened, for writing (an import on a worker
// thread, the upkeep), bounded by maxBytes as openFirst's, or, with readOnly, for searching
// (maxBytes unused). Throws SqliteError when path is no history database of this version.
std::unique_ptr<SqliteConnection> openMore(const QString &path, bool readOnly, qint64 maxBytes = 0);

} // namespace HistoryFile
