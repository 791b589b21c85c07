#include "ui/HistoryKeeper.h"

#include "core/ChatLog.h"
#include "core/Prompts.h"
#include "history/History.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString DatabaseFileName = u"history.db"_s;
const QString NotStored = u"聊天记录未能存入数据库："_s;

} // namespace

// What the import thread hands back; read once the thread has finished.
struct HistoryKeeper::ImportOutcome {
    std::optional<ImportReport> report;
    QString error;
};

HistoryKeeper::HistoryKeeper(QString dataDir, Prompts &prompts, std::function<QString()> ownNickname,
                             QObject *parent)
    : QObject(parent), dataDir_(std::move(dataDir)), path_(QDir(dataDir_).filePath(DatabaseFileName)),
      prompts_(prompts), ownNickname_(std::move(ownNickname)), maxBytes_(HistoryStore::DefaultMaxBytes)
{}

HistoryKeeper::~HistoryKeeper() { stopImport(); }

QString HistoryKeeper::buddyOf(const QString &entry)
{
    return QFileInfo(ChatLog::fileName(QString(), entry)).fileName().chopped(4);
}

HistoryStore *HistoryKeeper::store()
{
    if (store_)
        return store_.get();
    OpenReport report;
    store_ = HistoryStore::open(path_, &report, maxBytes_);
    problem_ = store_ ? QString() : report.problem;
    if (!report.movedAsideTo.isEmpty())
        prompts_.information(u"聊天记录数据库已损坏（"_s + report.problem + u"），原文件已改名保存为：\n"_s
                             + report.movedAsideTo + u"\n程序将根据聊天记录文件重新建立数据库。"_s);
    return store_.get();
}

void HistoryKeeper::setRecording(bool on)
{
    recording_ = on;
    if (!on) {
        stopImport();
        return;
    }
    HistoryStore *history = store();
    if (!history) {
        emit fault(NotStored + problem_);
        return;
    }
    QString error;
    const std::optional<bool> done = history->importDone(&error);
    if (!done)
        emit fault(u"无法导入聊天记录："_s + error);
    else if (!*done)
        startImport();
}

void HistoryKeeper::recordingTurnedOff()
{
    setRecording(false);
    if (!QFile::exists(path_))
        return;
    const QString question = u"已停止保存聊天记录。要把已存入数据库的聊天记录也全部删除吗？"
                             u"（聊天记录文件不受影响）"_s;
    if (prompts_.confirm(question, false) != Prompts::Answer::Yes)
        return;
    HistoryStore *history = store();
    QString error = problem_;
    if (!history || !history->removeAll(&error))
        prompts_.information(u"无法删除数据库中的聊天记录："_s + error);
    emit changed();
}

void HistoryKeeper::add(const NewMessage &message)
{
    if (!recording_)
        return;
    HistoryStore *history = store();
    QString error = problem_;
    if (!history || !history->add(message, &error))
        emit fault(NotStored + error);
}

QString HistoryKeeper::searchablePath()
{
    if (!store_ && !QFile::exists(path_))
        return {};
    return store() ? path_ : QString();
}

void HistoryKeeper::forgetBuddy(const QString &entry)
{
    const QString question
        = u"确定要删除与“%1”的全部聊天记录吗？数据库中的记录和聊天记录文件都会被删除，无法恢复。"_s.arg(
            entry);
    if (prompts_.confirm(question, false) != Prompts::Answer::Yes)
        return;
    // An import under way could store the buddy's entries again from what it read before.
    const bool resume = importing();
    stopImport();
    QStringList problems;
    if (QFile::exists(path_)) {
        HistoryStore *history = store();
        QString error = problem_;
        if (!history || !history->removeBuddy(buddyOf(entry), &error))
            problems << error;
    }
    const QString log = ChatLog::fileName(dataDir_, entry);
    if (QFile::exists(log) && !QFile::remove(log))
        problems << u"无法删除文件 "_s + log;
    if (resume && recording_)
        startImport();
    emit changed();
    if (!problems.isEmpty())
        prompts_.information(u"聊天记录没有全部删除：\n"_s + problems.join(u'\n'));
}

void HistoryKeeper::startImport()
{
    if (importThread_)
        return;
    importer_ = std::make_unique<LogImporter>(path_, ownNickname_ ? ownNickname_() : QString(), maxBytes_);
    outcome_ = std::make_shared<ImportOutcome>();
    const QString folder = QFileInfo(ChatLog::fileName(dataDir_, u"x"_s)).absolutePath();
    importThread_ = QThread::create([importer = importer_.get(), outcome = outcome_, folder] {
        outcome->report = importer->run(folder, &outcome->error);
    });
    // A run stopped meanwhile may still have its finish queued: only the current one counts.
    const quint64 run = ++importRuns_;
    connect(importThread_, &QThread::finished, this, [this, run] {
        if (run == importRuns_ && importThread_)
            importFinished();
    });
    importThread_->start(QThread::LowPriority);
}

void HistoryKeeper::importFinished()
{
    const std::shared_ptr<ImportOutcome> outcome = outcome_;
    stopImport();
    if (!outcome->report)
        emit fault(u"无法导入聊天记录："_s + outcome->error);
    else if (!outcome->report->unreadable.isEmpty())
        emit fault(u"导入聊天记录时有 %1 个文件无法读取，例如 "_s.arg(outcome->report->unreadable.size())
                   + outcome->report->unreadable.first());
    emit changed();
}

void HistoryKeeper::stopImport()
{
    if (!importThread_)
        return;
    importer_->cancel();
    importThread_->wait();
    delete importThread_;
    importThread_ = nullptr;
    ++importRuns_;
    importer_.reset();
    outcome_.reset();
}
