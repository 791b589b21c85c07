#pragma once

#include <QWidget>

class QPlainTextEdit;
class QTimer;
class MainWindowLinks;

// The chat-room view: in chat-room mode (the settings box autopop cleared) incoming and sent
// messages collect in its transcript lts instead of in message windows. It stays docked to
// the main window's right edge, saves the transcript to chatdat/聊天室.txt every 5 s while
// the settings box bcf is ticked, and on closing puts the program back into auto-pop-up mode.
// Opened by the main window, as its child window, when the settings box autopop is cleared;
// released 6000 ms after closing.
class TForm5 : public QWidget {
    Q_OBJECT
public:
    static constexpr int MinWidth = 268;
    static constexpr int MaxWidth = 400;

    explicit TForm5(MainWindowLinks &main);

    // Adds one entry (its CR LF pairs break it into lines) at the end of the transcript.
    void appendEntry(const QString &entry);
    // The transcript as it is saved: every line ended by CR LF.
    QString transcript() const;
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

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    MainWindowLinks &main_;
    // A save that keeps failing is reported once, until a save succeeds again.
    bool saveFailing_ = false;
};
