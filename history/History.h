#pragma once

// The searchable chat history: every message sent and received, kept in one SQLite database
// (<dataDir>/history.db) beside the chat logs, and found again by any word in it.
//
// Use:
//
//     OpenReport report;
//     std::unique_ptr<HistoryStore> store = HistoryStore::open(dataDir + u"/history.db"_s, &report);
//     if (!store)                      // no database can be had there: report.problem says why
//         ...;
//     if (!report.movedAsideTo.isEmpty())
//         ...;                         // the old file was damaged and kept under that name: tell
//                                      // the person once; the new one is empty
//     if (!store->importDone(&error).value_or(true))   // first start, or after a damaged file
//         LogImporter(store->path(), ownNickname, store->maxBytes()).run(dataDir + u"/chatdat"_s, &error);
//
//     store->add({buddyEntry, u"192.168.1.5"_s, QDateTime::currentDateTime(),
//                 MessageDirection::Received, text}, &error);
//
//     // on a worker thread, one object per thread:
//     std::unique_ptr<HistorySearch> search = HistorySearch::open(store->path(), &error);
//     std::optional<SearchPage> page = search->search({u"明天开会"_s}, &error);
//     for (const SearchHit &hit : page->hits)   // newest first; page->total hits in all
//         ...;                                  // hit.excerpt with hit.marks highlighted
//     search->around(hit.id, 5, 5, &error);     // the hit in its conversation
//
// - HistoryStore (history/HistoryStore.h): opens, checks and if need be mends the file; adds
//   messages; removes a buddy's messages or all. One per session, opened first.
// - HistorySearch (history/HistorySearch.h): search and context, on its own connection.
// - LogImporter (history/LogImporter.h): reads the chat logs in, once, without duplicates.
// - The values they take and give: history/HistoryTypes.h.
//
// Every call reports failure by its return value with a text for the person (SQLite's own text
// and the result code's name, e.g. "database or disk is full (SQLITE_FULL)"); none throws. A
// failure leaves what was stored before as it was. docs/history.md describes the database.
#include "history/HistorySearch.h"
#include "history/HistoryStore.h"
#include "history/HistoryTypes.h"
#include "history/LogImporter.h"
