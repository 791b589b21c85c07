#pragma once

#include "history/HistoryTypes.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class HistoryStore;
class LogImporter;
class Prompts;
class QThread;

// Keeps the searchable history (<dataDir>/history.db) beside the chat logs, for the windows:
// while the save option is on, each message is stored as its log entry is made; the first
// time the option is on (and after a damaged database was moved aside) the existing logs are
// read in on a worker thread. It asks the person through the prompts (a moved-aside database,
// deleting what is stored) and reports a failed add by fault(), which the main window shows in
// its status bar. Everything but the import runs on the GUI thread.
class HistoryKeeper : public QObject {
    Q_OBJECT
public:
    // ownNickname: the name the own entries of the chat logs carry (for the import's directions).
    HistoryKeeper(QString dataDir, Prompts &prompts, std::function<QString()> ownNickname,
                  QObject *parent = nullptr);
    ~HistoryKeeper() override;

    // The buddy a log entry's messages are stored under: the chat log's file name without
    // ".txt", as the import names them.
    static QString buddyOf(const QString &entry);

    QString databasePath() const { return path_; }
    // The largest size the database may grow to (HistoryStore::DefaultMaxBytes); applies
    // from the next opening.
    void setMaxBytes(qint64 maxBytes) { maxBytes_ = maxBytes; }

    // Follows the save option. On: opens the database (mending or moving aside a damaged one)
    // and imports the chat logs when that was never done. Off: stores nothing more.
    void setRecording(bool on);
    bool recording() const { return recording_; }
    // The option was turned off by the person: stops storing, and when a database is there
    // asks whether to delete what it holds (the chat logs stay).
    void recordingTurnedOff();

    // Stores one message while recording; a failure is reported by fault() and leaves what
    // was stored as it was. The next add is tried as usual.
    void add(const NewMessage &message);

    // The database to search, opened (and mended) first when its file is there; empty when
    // there is none or it cannot be opened (problem() says why).
    QString searchablePath();
    // Why the database could not be opened, empty when it could.
    QString problem() const { return problem_; }
    bool importing() const { return importThread_ != nullptr; }

    // Removes a buddy's messages from the database and its chat log, once the person said yes.
    void forgetBuddy(const QString &entry);

signals:
    // Storing failed: a text for the person.
    void fault(const QString &text);
    // Messages were imported or removed: what a search shows may be out of date.
    void changed();

private:
    // The store, opened on first need; null when it cannot be had (problem_ set).
    HistoryStore *store();
    void startImport();
    void importFinished();
    void stopImport();

    QString dataDir_;
    QString path_;
    Prompts &prompts_;
    std::function<QString()> ownNickname_;
    qint64 maxBytes_;
    bool recording_ = false;
    std::unique_ptr<HistoryStore> store_;
    QString problem_;

    // The import under way: its importer, thread and outcome.
    struct ImportOutcome;
    std::unique_ptr<LogImporter> importer_;
    std::shared_ptr<ImportOutcome> outcome_;
    QThread *importThread_ = nullptr;
    quint64 importRuns_ = 0;
};
