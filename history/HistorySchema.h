#pragma once

class SqliteConnection;

// The layout of the history database: its tables, the full-text index and the version kept in
// PRAGMA user_version (history/HistorySchema.cpp explains the choices).
namespace HistorySchema {

// The version of the layout this program makes and reads.
constexpr int Version = 1;
// PRAGMA application_id of a history database ("TLHD"), so that another SQLite file put in
// its place is recognised as not ours.
constexpr int ApplicationId = 0x544C4844;

enum class State {
    Empty,   // no tables yet: a new file
    Current, // ours, in this version
    Newer,   // ours, made by a newer version of the program
    Foreign, // some other SQLite database
};

// Reads the header's ids and the tables. Throws SqliteError when the file is no database.
State inspect(SqliteConnection &connection);

// Makes the tables in an empty database. Settings that only take effect before the first
// table (page size, text encoding, auto-vacuum) come first. Throws SqliteError.
void create(SqliteConnection &connection);

// Drops the messages, buddies and the index and makes them anew, in the caller's transaction;
// the settings (the import flag) stay.
void recreateMessages(SqliteConnection &connection);

} // namespace HistorySchema
