#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class BenchPeer;
class PresenceService;
class QSocketNotifier;
class QTimer;
class SetReceiveWindow;
class SetSendWindow;
class SetWindow;
struct NearbyPeer;

// The options of presence_peer, "--name value" pairs.
struct PresencePeerOptions {
    QString ip = QStringLiteral("0.0.0.0"); // the bind address (0.0.0.0 hears broadcasts)
    QString nick;
    int status = 0; // 1 normal, 0 secure
    bool presence = true;
    int keepAliveMs = 60'000;
    int answerDelayMs = 500;
    QStringList interfaces; // empty: every interface presence uses by default
    QString dir;            // the peer's folder, kept for a restart; its own temporary one when empty
    bool chatRoom = false;  // messages go to the chat-room view, not to message windows
    bool fileSets = true;   // presence says it takes several files and folders in one offer

    static PresencePeerOptions parse(const QStringList &arguments);
};

// The file-set part of the console: commands that act on the windows of file sets as a person
// does, and a line for what those windows show. The windows are looked at every TickMs, and
// each send window's end of stream is caught as the window is shown, so that a stream that a
// restored window starts at once is reported too.
//   commands: offerset IP PATH|PATH|... (the files and folders dropped on IP's buddy, "发送")
//             | acceptsets FOLDER (from now on every set offered is accepted into FOLDER)
//             | pausesets ("暂停" on every running set) | continuesets ("继续" on every paused one)
//   events:   setsent ID FILES | setstream ID BODYBYTES ACK (1 when the receiver acknowledged)
//             | setoffer ID IP SUMMARY (a set accepted) | setstate send|recv ID TEXT
//             | setdone ID (a set arrived whole)
class SetConsole : public QObject {
    Q_OBJECT
public:
    static constexpr int TickMs = 50;

    explicit SetConsole(BenchPeer &peer, QObject *parent = nullptr);
    ~SetConsole() override;

    // Runs one command; false when it is none of the file-set commands.
    bool run(const QString &command, const QString &argument);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void offerSet(const QString &ip, const QStringList &paths);
    void tick();
    void acceptSet(SetReceiveWindow *window);
    void showState(SetWindow *window, const QString &direction);
    // "暂停" or "继续" on every accepted set that is running (or, with running false, paused).
    void clickPause(bool running);

    BenchPeer &peer_;
    QTimer *ticker_;
    QString acceptInto_;
    QList<QPointer<SetSendWindow>> reported_; // whose end of stream is printed
    QList<QPointer<SetReceiveWindow>> tried_; // accepted once, whatever came of it
    QHash<const QObject *, QString> shown_;   // the state text last printed, per window
};

// The console of one peer process, whose main window runs presence: commands on standard input, one a line,
// and what presence sees on standard output, one event a line (nicknames are shown as plain text, so a line
// never breaks inside one).
//   commands: nick NAME | status 0|1 | presence on|off | refresh | list | quit
//             | send IP TEXT (a message window's send) | offer IP PATH (a send-file window's send)
//             | accept PATH (from now on every offer is accepted into PATH) | code IP
//             | the commands of SetConsole
//   events:   ready ID | found ID IP STATUS NICK | changed ID IP STATUS NICK | gone ID
//             | peer ID IP STATUS NICK (one per peer after list) | listed COUNT
//             | message IP TEXT | offer IP TEXT | box TEXT (every box shown) | code IP CODE
//             | delivery IP ID STATE MS (a sent message's new state: sending, delivered,
//               notdelivered, waiting, noreceipt or notqueued; MS: the monotonic clock's ms,
//               QDeadlineTimer::current()) | the events of SetConsole
// IDs are 32 hexadecimal digits. End of input quits too.
class PresenceConsole : public QObject {
    Q_OBJECT
public:
    PresenceConsole(BenchPeer &peer, PresenceService &service, QObject *parent = nullptr);

    // Applies the options that must hold before the main window starts presence: the
    // keep-alive period, the answer delay, presence on or off (through the settings window).
    void prepare(const PresencePeerOptions &options);
    // After the main window has started: the status and the interfaces asked for; says ready.
    void started(const PresencePeerOptions &options);
    // Runs one command line; false for an unknown command.
    bool run(const QString &line);

signals:
    void quitRequested();

private:
    void setPresence(bool on);
    void sendMessage(const QString &ip, const QString &text);
    void offerFile(const QString &ip, const QString &path);
    void acceptOffers();
    void readInput();
    void print(const QString &event, const NearbyPeer &peer);

    BenchPeer &peer_;
    PresenceService &service_;
    SetConsole *sets_;
    QSocketNotifier *input_;
    QByteArray pending_;
    QString acceptInto_;
    QObject *accepting_ = nullptr;
};
