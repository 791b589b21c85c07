#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>

// One presence_peer process (see PresenceConsole), started by a command line such as the one
// BridgeNetwork::command gives: the lines it prints are kept as they come, commands go to its
// standard input. Waits run the event loop until a line matches or the time is up. The
// destructor kills a process still running.
class PeerProcess : public QObject {
    Q_OBJECT
public:
    explicit PeerProcess(const QStringList &command, QObject *parent = nullptr);
    ~PeerProcess() override;

    // Waits for "ready ID"; false when the process ended or did not say it in time.
    bool waitReady(int timeoutMs);
    QString id() const { return id_; }
    qint64 pid() const { return process_.processId(); }
    bool running() const { return process_.state() != QProcess::NotRunning; }

    void send(const QString &command);
    // Waits until a line from index from on starts with prefix; that line, or empty.
    QString waitForLine(const QString &prefix, int timeoutMs, qsizetype from = 0);
    // Sends list and returns the peers it shows, as their "peer ..." lines.
    QStringList list(int timeoutMs);
    // Sends quit and waits for the end; true when it exited with status 0.
    bool quit(int timeoutMs);
    // SIGKILL: no goodbye.
    void kill();

    const QStringList &lines() const { return lines_; }
    // When line index was read, in ms of the monotonic clock (QDeadlineTimer::current()).
    qint64 lineTimeMs(qsizetype index) const { return lineTimes_.value(index, -1); }
    // Lines from index from on that start with prefix.
    QStringList linesStartingWith(const QString &prefix, qsizetype from = 0) const;

signals:
    void lineRead(const QString &line);

private:
    void readLines();

    QProcess process_;
    QStringList lines_;
    QList<qint64> lineTimes_;
    QString id_;
};

// Runs the event loop until done() holds, checked whenever events have been handled (a line
// read, a datagram counted); false when it still does not hold after timeoutMs.
bool runEventsUntil(const std::function<bool()> &done, int timeoutMs);
