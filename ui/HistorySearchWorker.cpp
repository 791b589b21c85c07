#include "ui/HistorySearchWorker.h"

#include "history/HistorySearch.h"

HistorySearchWorker::HistorySearchWorker(QString databasePath, QObject *parent)
    : QObject(parent), path_(std::move(databasePath)), thread_([this] { run(); })
{}

HistorySearchWorker::~HistorySearchWorker()
{
    {
        const std::lock_guard lock(lock_);
        stopping_ = true;
        if (searcher_)
            searcher_->cancel();
    }
    wake_.notify_one();
    thread_.join();
}

void HistorySearchWorker::search(quint64 serial, const SearchRequest &request)
{
    {
        const std::lock_guard lock(lock_);
        search_ = SearchJob{serial, request};
    }
    wake_.notify_one();
}

void HistorySearchWorker::around(quint64 serial, qint64 id, int before, int after)
{
    {
        const std::lock_guard lock(lock_);
        around_ = AroundJob{serial, id, before, after};
    }
    wake_.notify_one();
}

void HistorySearchWorker::cancelRunning()
{
    const std::lock_guard lock(lock_);
    if (searcher_)
        searcher_->cancel();
}

void HistorySearchWorker::run()
{
    for (;;) {
        std::optional<SearchJob> search;
        std::optional<AroundJob> around;
        {
            std::unique_lock lock(lock_);
            wake_.wait(lock, [this] { return stopping_ || search_ || around_; });
            if (stopping_)
                break;
            // The context first: it answers the hit the person just chose.
            if (around_)
                around.swap(around_);
            else
                search.swap(search_);
        }
        if (around)
            runAround(*around);
        else
            runSearch(*search);
    }
    const std::lock_guard lock(lock_);
    searcher_.reset();
}

HistorySearch *HistorySearchWorker::searcher(QString *error)
{
    if (!searcher_) {
        std::unique_ptr<HistorySearch> opened = HistorySearch::open(path_, error);
        const std::lock_guard lock(lock_);
        searcher_ = std::move(opened);
    }
    return searcher_.get();
}

void HistorySearchWorker::runSearch(const SearchJob &job)
{
    QString error;
    std::optional<SearchPage> page;
    if (HistorySearch *searching = searcher(&error))
        page = searching->search(job.request, &error);
    emit searched(job.serial, job.request, page.value_or(SearchPage()), page ? QString() : error);
}

void HistorySearchWorker::runAround(const AroundJob &job)
{
    QString error;
    std::optional<QList<StoredMessage>> messages;
    if (HistorySearch *searching = searcher(&error))
        messages = searching->around(job.id, job.before, job.after, &error);
    emit aroundRead(job.serial, job.id, messages.value_or(QList<StoredMessage>()),
                    messages ? QString() : error);
}
