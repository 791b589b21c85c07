#pragma once

#include "history/HistoryTypes.h"

#include <QDialog>
#include <memory>

class HistoryHitModel;
class HistoryKeeper;
class HistorySearchWorker;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QTextEdit;
class QTimer;

// "查找聊天记录": finds messages in the history database by any words in them. A search box
// (searched once typing pauses), the hits newest first with the words highlighted, their count,
// "更多" for the next page, and the chosen hit in its conversation in a read-only pane. It may
// show one buddy's messages only, until the filter is cleared. Searches run on a thread of the
// window's own (HistorySearchWorker); a new query stops the one that runs, and the answers to
// a request that is no longer the newest are dropped. Peer text is shown as plain text only.
// A small window of the main window; Escape closes it.
class HistorySearchWindow : public QDialog {
    Q_OBJECT
public:
    // A query is searched once typing has paused this long.
    static constexpr int TypingPauseMs = 200;
    // Hits asked for at a time.
    static constexpr int PageSize = 50;
    // Messages shown before and after the chosen hit.
    static constexpr int ContextMessages = 8;

    HistorySearchWindow(HistoryKeeper &keeper, QWidget *parent);
    ~HistorySearchWindow() override;

    // Shows only that buddy's messages (a buddy as HistoryKeeper::buddyOf names it); all
    // buddies' when empty. Searches again.
    void setBuddyFilter(const QString &buddy);
    QString buddyFilter() const { return buddy_; }
    // Searches for the box's text now, without waiting for a pause.
    void searchNow();
    // The hits shown (newest first) and the number of all hits of the query.
    const HistoryHitModel &hitModel() const { return *model_; }
    qint64 total() const { return total_; }
    // The id of the message the context pane shows marked; 0 when none.
    qint64 shownContext() const { return contextId_; }
    // Whether the answer to the newest search is still awaited.
    bool searching() const { return searchRequest_ != answeredRequest_; }

    QLabel *queryLabel;
    QLineEdit *query;
    QWidget *filterRow;
    QLabel *filterLabel;
    QPushButton *clearFilter;
    QLabel *status;
    QLabel *hitsLabel;
    QListView *hits;
    QPushButton *more;
    QLabel *contextLabel;
    QTextEdit *context;

private:
    void startSearch();
    void askPage(int offset);
    void chooseHit();
    void showPage(quint64 serial, const SearchRequest &request, const SearchPage &page, const QString &error);
    void showContext(quint64 serial, qint64 id, const QList<StoredMessage> &messages, const QString &error);
    // The worker with its thread, made once a database is there to search; null before.
    HistorySearchWorker *worker();
    // Says why nothing can be searched; false when something can.
    bool tellUnsearchable();
    void showCount();

    HistoryKeeper &keeper_;
    HistoryHitModel *model_;
    QTimer *typingPause_;
    std::unique_ptr<HistorySearchWorker> worker_;
    QString buddy_;
    // Requests are numbered; only the answers to the newest search and context count.
    quint64 requests_ = 0;
    quint64 searchRequest_ = 0;
    quint64 contextRequest_ = 0;
    quint64 answeredRequest_ = 0;
    SearchRequest shownQuery_;
    qint64 total_ = 0;
    qint64 contextId_ = 0;
};
