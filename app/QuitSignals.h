#pragma once

#include <QObject>

#include <array>
#include <csignal>

class QSocketNotifier;

// Turns the signals that ask the program to end into a Qt signal on the GUI thread: SIGTERM
// (the desktop at logout or shutdown), SIGHUP (the session or terminal went away) and SIGINT
// (Ctrl+C), so that the program ends as its own quit does, with everything written. The
// handler only writes the signal's number to a pipe, which is all a handler may safely do;
// a socket notifier reads the pipe in the event loop. One object at a time listens; it puts
// the previous handlers back when it goes.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    static constexpr std::array<int, 3> Handled{SIGTERM, SIGHUP, SIGINT};

    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;
    QuitSignals(const QuitSignals &) = delete;
    QuitSignals &operator=(const QuitSignals &) = delete;

    // False when the pipe or a handler could not be set up (or another object listens): the
    // signals then keep their previous effect.
    bool isListening() const { return notifier_ != nullptr; }

signals:
    // One of the signals arrived (once for the signals read at one wake-up).
    void received(int signalNumber);

private:
    void readPipe();

    int readEnd_ = -1;
    int writeEnd_ = -1;
    QSocketNotifier *notifier_ = nullptr;
    std::array<struct sigaction, Handled.size()> previous_{};
};
