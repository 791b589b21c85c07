#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// The values the history library takes and hands back (history/History.h describes the whole).

// How a message came to be in a conversation.
enum class MessageDirection {
    Received = 0,  // from the buddy
    Sent = 1,      // typed here and sent to the buddy
    AutoReply = 2, // the buddy's automatic reply
};

// A message to be stored.
struct NewMessage {
    QString buddy;   // the buddy's log entry, as the chat log's file is named (e.g. "[3]小明")
    QString address; // the buddy's IPv4 address as text; empty when unknown
    QDateTime time;  // when it was sent or received; kept to the second
    MessageDirection direction = MessageDirection::Received;
    QString text; // the text as shown, line breaks and emoji included
};

// A message as stored.
struct StoredMessage {
    qint64 id = 0; // its place in the store: a later message has a larger id
    QString buddy;
    QString address; // empty when unknown (imported from a chat log)
    QDateTime time;  // local time
    MessageDirection direction = MessageDirection::Received;
    QString text;
};

// A part of a text to highlight, in UTF-16 code units (QChar positions) of that text.
struct TextSpan {
    int start = 0;
    int length = 0;
    bool operator==(const TextSpan &) const = default;
};

// What a search window asks for.
struct SearchRequest {
    QString text;  // what the person typed: searched as plain text, never as a query language
    QString buddy; // only this buddy's messages (a log entry); all buddies when empty
    int limit = 50;
    int offset = 0; // hits to skip: offset 50 with limit 50 is the second page
};

// One message that contains the searched text.
struct SearchHit {
    qint64 id = 0; // for HistorySearch::around
    QString buddy;
    QString address;
    QDateTime time;
    MessageDirection direction = MessageDirection::Received;
    // A piece of the text around the first occurrence, on one line (line breaks shown as
    // spaces), with "…" where the text goes on; marks are the occurrences within it.
    QString excerpt;
    QList<TextSpan> marks;
};

// One page of hits, newest first, and how many messages hit in all.
struct SearchPage {
    QList<SearchHit> hits;
    qint64 total = 0;
};

// What opening the history database found.
struct OpenReport {
    // The damaged database that was renamed to make room for a new, empty one (its -wal and
    // -shm renamed alike); empty when none was. When set, the caller rebuilds the history from
    // the chat logs and tells the person once.
    QString movedAsideTo;
    // Why the database was moved aside (SQLite's text), or why opening failed.
    QString problem;
    bool created = false; // a new database was made (first start, or after moving one aside)
};

// What an import of chat logs did.
struct ImportReport {
    int files = 0;            // chat log files read
    qint64 entries = 0;       // messages found in them
    qint64 added = 0;         // messages stored
    qint64 alreadyStored = 0; // messages that were in the database already and were skipped
    QStringList unreadable;   // files that could not be read (the import goes on without them)
};
