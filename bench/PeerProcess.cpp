#include "bench/PeerProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

bool runEventsUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake; // so that the wait below ends at the deadline when nothing else happens
    wake.setSingleShot(true);
    wake.start(std::max(1, timeoutMs));
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

PeerProcess::PeerProcess(const QStringList &command, QObject *parent) : QObject(parent)
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&process_, &QProcess::readyReadStandardOutput, this, &PeerProcess::readLines);
    process_.start(command.value(0), command.mid(1));
}

PeerProcess::~PeerProcess()
{
    if (running()) {
        process_.kill();
        process_.waitForFinished(10'000);
    }
}

void PeerProcess::readLines()
{
    while (process_.canReadLine()) {
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        lines_ << line;
        lineTimes_ << QDeadlineTimer::current().deadline();
        if (id_.isEmpty() && line.startsWith(u"ready "_s))
            id_ = line.mid(6);
        emit lineRead(line);
    }
}

bool PeerProcess::waitReady(int timeoutMs)
{
    return runEventsUntil([this] { return !id_.isEmpty() || !running(); }, timeoutMs) && !id_.isEmpty();
}

void PeerProcess::send(const QString &command) { process_.write((command + u'\n').toUtf8()); }

QString PeerProcess::waitForLine(const QString &prefix, int timeoutMs, qsizetype from)
{
    QString found;
    runEventsUntil(
        [&] {
            const QStringList matching = linesStartingWith(prefix, from);
            found = matching.value(0);
            return !matching.isEmpty() || !running();
        },
        timeoutMs);
    return found;
}

QStringList PeerProcess::list(int timeoutMs)
{
    const qsizetype from = lines_.size();
    send(u"list"_s);
    if (waitForLine(u"listed "_s, timeoutMs, from).isEmpty())
        return {};
    return linesStartingWith(u"peer "_s, from);
}

bool PeerProcess::quit(int timeoutMs)
{
    send(u"quit"_s);
    runEventsUntil([this] { return !running(); }, timeoutMs);
    return !running() && process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
}

void PeerProcess::kill() { process_.kill(); }

QStringList PeerProcess::linesStartingWith(const QString &prefix, qsizetype from) const
{
    QStringList result;
    for (qsizetype i = from; i < lines_.size(); ++i)
        if (lines_.at(i).startsWith(prefix))
            result << lines_.at(i);
    return result;
}
