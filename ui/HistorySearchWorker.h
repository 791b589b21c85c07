#pragma once

#include "history/HistoryTypes.h"

#include <QObject>
#include <QString>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class HistorySearch;

// Runs the searches of one search window on a thread of its own, on a HistorySearch of its own
// (opened there at the first request). It holds at most one search and one context waiting to
// run: a newer request of a kind replaces the one that waits, and cancelRunning() stops the one
// that runs, so that typing never waits for a search it no longer wants. The answers come as
// signals, queued to the window's thread; each carries the number its request was given.
class HistorySearchWorker : public QObject {
    Q_OBJECT
public:
    explicit HistorySearchWorker(QString databasePath, QObject *parent = nullptr);
    // Stops the request that runs and waits for the thread to end.
    ~HistorySearchWorker() override;

    void search(quint64 serial, const SearchRequest &request);
    void around(quint64 serial, qint64 id, int before, int after);
    // Stops the search or context that runs now, if any.
    void cancelRunning();

signals:
    // error is empty when the request succeeded.
    void searched(quint64 serial, const SearchRequest &request, const SearchPage &page, const QString &error);
    void aroundRead(quint64 serial, qint64 id, const QList<StoredMessage> &messages, const QString &error);

private:
    struct SearchJob {
        quint64 serial;
        SearchRequest request;
    };
    struct AroundJob {
        quint64 serial;
        qint64 id;
        int before;
        int after;
    };

    void run();
    void runSearch(const SearchJob &job);
    void runAround(const AroundJob &job);
    // The search object, opened on first use; null with *error when the database cannot be read.
    HistorySearch *searcher(QString *error);

    QString path_;
    std::mutex lock_; // guards what follows against the two threads
    std::condition_variable wake_;
    std::optional<SearchJob> search_;
    std::optional<AroundJob> around_;
    bool stopping_ = false;
    std::unique_ptr<HistorySearch> searcher_; // made and ended on the worker's thread
    std::thread thread_;
};
