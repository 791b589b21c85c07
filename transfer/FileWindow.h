#pragma once

#include "core/ErrorReporter.h"
#include "core/PeerContext.h"
#include "core/Prompts.h"
#include "transfer/FileWindowLinks.h"

#include <QWidget>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QProgressBar;
class QStatusBar;
class QTimer;

// What the send-file and receive-file windows share: a fixed-size dialog with a progress bar,
// a one-line edit, two buttons and a status bar of two panels; the file-window flag (1 when
// shown, 0 when closed); a close that does its work once, whatever its cause; and the release
// by Timer1 after the close. Boxes and the stream post pump the event loop, so Timer1 may fire
// while one of the window's handlers is still running: the release then waits until the last
// of them has returned.
class FileWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int StreamPort = 2921;
    // A transfer in which no byte moves for this long (milliseconds) ends as interrupted: long
    // enough for a slow link and a busy disk, short enough that a stalled or silent peer does
    // not hold the window and its connection for good. The stream components' StallTimeOut.
    static constexpr int DefaultStallTimeOut = 60000;

    QStatusBar *zt;
    QLabel *ztPanel0; // the peer's address, later the progress text (room for the longest)
    QLabel *ztPanel1; // the connection or transfer state, in the rest of the width
    QTimer *Timer1;   // single shot, 1000 ms after the close: releases the window

    bool isClosed() const { return closed_; }

    // "已发送：" or "已接收：" followed by position, "Byte  共：", maximum and "Byte".
    static QString progressText(const QString &label, qint64 position, qint64 maximum);
    // A progress bar value: the count kept within 0 and limit.
    static int barValue(qint64 count, int limit);
    // A byte count in the largest unit that keeps it at least 1, one decimal: "19.1 MB".
    static QString readableSize(qint64 bytes);

signals:
    // The window was closed (once, whatever the cause); it is released a moment later.
    void closed();

protected:
    FileWindow(const FileWindowLinks &links, const QString &title);

    // The longest stream body, 2 GiB - 1 bytes: the status bar has room for its counts.
    static constexpr qint64 MaxStreamBytes = 2147483647;

    // Lays out the controls: the bar on top, then the edit with the two buttons, then zt; the
    // window is as large as its texts need, and at least 392 x 90.
    void arrange(QProgressBar *bar, QWidget *edit, QAbstractButton *left, QAbstractButton *right);
    // The bar's text: bytes and the bar's maximum in readable units, beside the exact counts
    // of the status bar.
    static void showCount(QProgressBar *bar, qint64 bytes);
    // Connects a button's click to a handler of the window, run through handle().
    template <typename Window>
    void onClick(QAbstractButton *button, Window *window, void (Window::*handler)());

    // Runs one handler of the window: guarded, so its exception reaches the error reporter,
    // and counted, so that the release waits for it. Its boxes belong to this window.
    template <typename Handler> void handle(Handler &&handler);

    // The window's own part of the close, after the flag went to 0 and before Timer1 starts.
    virtual void FormClose() = 0;

    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

    // What Escape does: closes the window, as in a dialog box; asks first when that would drop
    // what the person typed and has not sent; or nothing while a transfer runs (its own
    // button ends it, so a stray key never cuts one off).
    enum class EscapeAction { Close, Ask, Keep };
    virtual EscapeAction onEscape() const { return EscapeAction::Close; }
    // The question Escape asks before unsent text goes.
    static QString discardQuestion();

    Prompts &prompts() const { return *links_.context.prompts; }
    // Sends a packet through the main window's endpoint to ip.
    void send(const QString &ip, const QByteArray &packet);

    const FileWindowLinks links_;

private:
    static constexpr int PanelPadding = 12;

    void connectButton(QAbstractButton *button, std::function<void()> slot);
    void Timer1Timer();
    void releaseWhenIdle();

    int busy_ = 0;
    bool closed_ = false;
    bool releaseDue_ = false;
};

template <typename Window>
void FileWindow::onClick(QAbstractButton *button, Window *window, void (Window::*handler)())
{
    connectButton(button, [this, window, handler] { handle([&] { (window->*handler)(); }); });
}

template <typename Handler> void FileWindow::handle(Handler &&handler)
{
    ++busy_;
    const Prompts::Owner owner(prompts(), this);
    guarded(*links_.context.reporter, handler);
    --busy_;
    releaseWhenIdle();
}
