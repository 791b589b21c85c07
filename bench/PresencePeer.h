#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class BenchPeer;
class PresenceService;
class QSocketNotifier;
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

// The console of one peer process, whose main window runs presence: commands on standard input, one a line,
// and what presence sees on standard output, one event a line (nicknames are shown as plain text, so a line
// never breaks inside one).
//   commands: nick NAME | status 0|1 | presence on|off | refresh | list | quit
//             | send IP TEXT (a message window's send) | offer IP PATH (a send-file window's send)
//             | accept PATH (from now on every offer is accepted into PATH) | code IP
//   events:   ready ID | found ID IP STATUS NICK | changed ID IP STATUS NICK | gone ID
//             | peer ID IP STATUS NICK (one per peer after list) | listed COUNT
//             | message IP TEXT | offer IP TEXT | box TEXT (every box shown) | code IP CODE
//             | delivery IP ID STATE MS (a sent message's new state: sending, delivered,
//               notdelivered, waiting, noreceipt or notqueued; MS: the monotonic clock's ms,
//               QDeadlineTimer::current())
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
    static void printLine(const QString &line);

    BenchPeer &peer_;
    PresenceService &service_;
    QSocketNotifier *input_;
    QByteArray pending_;
    QString acceptInto_;
    QObject *accepting_ = nullptr;
};
