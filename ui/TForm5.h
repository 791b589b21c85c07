#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <optional>

class QPlainTextEdit;
class QTimer;
class MainWindowLinks;

// The chat-room view: in chat-room mode (the settings box autopop cleared) incoming and sent
// messages collect in its transcript lts instead of in message windows. It stays docked to
// the main window's right edge, saves the transcript to chatdat/聊天室.txt while the settings
// box bcf is ticked, and on closing puts the program back into auto-pop-up mode. Its first
// save replaces the file with the transcript so far; after that entries are appended as they
// are made, so that the file holds them however the program ends: those made within
// AppendDelay ms of each other in one write (a flood or a steady stream of datagrams then
// costs one open and lock per AppendDelay, not per datagram). Every end of the program and of
// the view writes what waits. The save timer (every 5 s) writes what went unsaved: entries
// that came while the box was clear, or whose write failed.
// Opened by the main window, as its child window, when the settings box autopop is cleared;
// released 6000 ms after closing. Its docking and saving timers run only while it is open;
// closing (and the program's quitting) saves once more, so the file holds the whole
// transcript. Entries reach lts in one edit at the end of the event-loop turn that appended
// them, at most once every ShowInterval ms (a flood is shown as it grows, not laid out,
// painted and announced to a screen reader datagram by datagram), and not while the view is
// minimised or hidden (no one can see them then): they wait, in order, until it is shown
// again or the whole transcript is saved.
class TForm5 : public QWidget {
    Q_OBJECT
public:
    static constexpr int MinWidth = 268;
    static constexpr int MaxWidth = 400;
    // Milliseconds between two edits of the transcript that show arriving entries: about as
    // often as a person can follow, seldom enough that a flood costs few edits.
    static constexpr int ShowInterval = 100;
    // Milliseconds an entry waits at most before it is appended to the file: short enough that
    // an end nobody can catch (a kill, a power cut) loses next to nothing, long enough that a
    // stream of datagrams is written in few appends.
    static constexpr int AppendDelay = 10;

    explicit TForm5(MainWindowLinks &main);

    // Adds one entry (its CR LF pairs break it into lines) at the end of the transcript.
    void appendEntry(const QString &entry);
    // The transcript as it is saved: every line ended by CR LF. Entries still waiting are put
    // into lts first.
    QString transcript();
    QString transcriptFileName() const;

    // Handlers.
    void FormShow();
    void FormClose();
    void Timer1Timer();
    void bcTimer();
    void Timer2Timer();

    // Controls.
    QPlainTextEdit *lts;
    QTimer *Timer1; // docking
    QTimer *bc;     // saving
    QTimer *Timer2; // destruction after closing
    QTimer *appending; // single shot: writes the entries made since the last write

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

public:
    // Writes the entries that wait for appending, for an end that runs no further turn of the
    // event loop. Throws as save does.
    void saveWaiting();

private:
    bool canBeSeen() const { return isVisible() && !isMinimized(); }
    // Writes what the file does not hold yet, while the save option is on. Throws when that
    // fails, the first time only.
    void save();
    // Asks for a save within AppendDelay ms.
    void postSave();
    // Asks for the waiting entries to be shown at the end of this event-loop turn.
    void postShowing();
    // Appends the waiting entries to lts in one edit.
    void showWaitingEntries();

    MainWindowLinks &main_;
    // A save that keeps failing is reported once, until a save succeeds again.
    bool saveFailing_ = false;
    // What the file lacks: nothing yet written by this view (the first save replaces the
    // file), entries not kept for appending (the whole transcript is written again), or the
    // file form of the entries made since the last save.
    bool fileStarted_ = false;
    bool fileBehind_ = false;
    QString unsaved_;
    // Whether the transcript is still empty: an empty entry then adds no line to it.
    bool transcriptEmpty_ = true;
    // Entries not yet in lts, joined as one append would add them; empty when none wait.
    std::optional<QString> waiting_;
    bool showingPosted_ = false;
    QTimer *showing_;      // single shot: the next edit, ShowInterval after the last one
    QElapsedTimer shown_;  // since the last edit that showed entries
};
