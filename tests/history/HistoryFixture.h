#pragma once

#include "history/History.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

// A history database in a temporary folder, with a store and a search on it, and a plain SQLite
// connection of the test's own for what the library does not show (integrity, raw rows).
class HistoryFixture : public ::testing::Test {
protected:
    static constexpr qint64 Start = 1700000000; // 2023-11-14

    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        path_ = dir_.filePath(QStringLiteral("history.db"));
        openStore();
    }

    void openStore(qint64 maxBytes = HistoryStore::DefaultMaxBytes)
    {
        search_.reset();
        store_.reset();
        store_ = HistoryStore::open(path_, &report_, maxBytes);
        ASSERT_TRUE(store_) << report_.problem.toStdString();
        QString error;
        search_ = HistorySearch::open(path_, &error);
        ASSERT_TRUE(search_) << error.toStdString();
    }

    void closeAll()
    {
        search_.reset();
        store_.reset();
    }

    qint64 add(const QString &buddy, qint64 second, const QString &text,
               MessageDirection direction = MessageDirection::Received, const QString &address = {})
    {
        QString error;
        const std::optional<qint64> id = store_->add(
            {buddy, address, QDateTime::fromSecsSinceEpoch(Start + second), direction, text}, &error);
        EXPECT_TRUE(id) << error.toStdString();
        return id.value_or(0);
    }

    SearchPage find(const QString &text, const QString &buddy = {}, int limit = 50, int offset = 0)
    {
        QString error;
        const std::optional<SearchPage> page = search_->search({text, buddy, limit, offset}, &error);
        EXPECT_TRUE(page) << error.toStdString();
        return page.value_or(SearchPage{});
    }

    static QList<qint64> idsOf(const SearchPage &page)
    {
        QList<qint64> ids;
        for (const SearchHit &hit : page.hits)
            ids.append(hit.id);
        return ids;
    }

    // The first column of the first row of sql, as text, on a connection of the test's own.
    static QString rawQuery(const QString &path, const char *sql)
    {
        sqlite3 *db = nullptr;
        QString result = QStringLiteral("(cannot open)");
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
            sqlite3_stmt *statement = nullptr;
            if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
                result = QString::fromUtf8(sqlite3_errmsg(db));
            else if (sqlite3_step(statement) == SQLITE_ROW)
                result = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
            else
                result = QString::fromUtf8(sqlite3_errmsg(db));
            sqlite3_finalize(statement);
        }
        sqlite3_close(db);
        return result;
    }

    // "ok", or the error of running sql on a connection of the test's own (made when missing).
    static QString rawExec(const QString &path, const char *sql)
    {
        sqlite3 *db = nullptr;
        QString result = QStringLiteral("(cannot open)");
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr)
            == SQLITE_OK) {
            char *message = nullptr;
            result = sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK
                ? QStringLiteral("ok")
                : QString::fromUtf8(message);
            sqlite3_free(message);
        }
        sqlite3_close(db);
        return result;
    }

    // integrity_check of the file, and the full-text index checked against the messages.
    static QString integrity(const QString &path)
    {
        return rawQuery(path, "PRAGMA integrity_check") + QStringLiteral(" / ")
            + rawExec(path, "INSERT INTO messages_text(messages_text, rank) VALUES ('integrity-check', 1)");
    }

    QTemporaryDir dir_;
    QString path_;
    OpenReport report_;
    std::unique_ptr<HistoryStore> store_;
    std::unique_ptr<HistorySearch> search_;
};
