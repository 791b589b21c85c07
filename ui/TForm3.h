#pragma once

#include "history/HistoryTypes.h"
#include "ui/DisplayStyle.h"

#include <QDateTime>
#include <QFont>
#include <QPalette>
#include <QWidget>

class ColorBox;
class DeliveryList;
class GbkTextLimit;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QToolBar;
class QToolButton;
class MainWindowLinks;
class SecurityStrip;
class SettingsLinks;

// The message window: one turn of a conversation with one peer. It shows the peer's address
// and entry, the message that arrived (or a live copy of the reply being typed), sends one
// type-1 packet and closes. While the settings window's save option is on, its history pane
// shows the peer's chat log as it was when the window opened, and each entry the window makes
// is appended to the log file as it is made, so that every entry is there once, whatever the
// order in which the peer's windows close and however the program ends. An entry that could
// not be written is tried again with the next one and at closing. Each entry is stored in the
// searchable history as well (MainWindowLinks::history), and Ctrl+F searches this peer's
// messages there. Created by its opener as a child window of the main window, shown once, and
// released 3000 ms after closing.
class TForm3 : public QWidget {
    Q_OBJECT
public:
    // Longest message, in GBK bytes (line breaks count as CR LF).
    static constexpr int MessageBytes = 200;
    // Outer heights (the desktop's decoration included) without and with the history.
    static constexpr int HistoryHiddenHeight = 280;
    static constexpr int HistoryShownHeight = 450;
    static constexpr int HistoryPanelHeight = 170;

    // A hidden window with empty fields; the opener sets the caption, ip, nc and mess and
    // shows it.
    explicit TForm3(MainWindowLinks &main);

    // One more message of the same host, past its window budget: shown below the pane's text
    // and logged as the first one was (an automatic reply when autoReply). False, touching
    // nothing, once the window is closed or its pane mirrors a reply being typed.
    bool appendReceived(const QString &text, bool autoReply = false);

    // The chat log file of nc's conversation.
    QString chatLogPath() const;
    // The history pane's text: the log read at opening and this window's entries, with their
    // CR and CR LF bytes.
    QString historyText() const { return history_; }

    // A history entry: name, ":[", date, " ", time, "]", CR, text, CR.
    static QString historyEntry(const QString &name, const QDateTime &at, const QString &text);
    // The chat-room line of a sent message: "你对", peer, "说:[", date, " ", time, "]", CR LF,
    // text, CR LF and 51 "-".
    static QString chatRoomLine(const QString &peer, const QDateTime &at, const QString &text);

    // Handlers.
    void FormShow();
    void fsClick();
    void FormClose();
    void Timer1Timer();
    void Button1Click();
    void inpuKeyDown(int key);
    void inpuKeyUp();
    void ztChange();
    void FontDialog1Close();
    void ztsChange();
    void zhChange();
    void zhKeyDown();
    void bClick();
    void iClick();
    void uClick();
    void bgsChange();

    // Controls.
    QLineEdit *ip;
    QLineEdit *nc;
    QToolBar *ToolBar1;
    QComboBox *zt;
    ColorBox *zts;
    QComboBox *zh;
    QToolButton *b;
    QToolButton *i;
    QToolButton *u;
    ColorBox *bgs;
    QPlainTextEdit *mess;
    QPlainTextEdit *inpu;
    QPushButton *fs;
    QPushButton *Button1;
    QWidget *Panel2;
    QPlainTextEdit *ltjl;
    // Whether the conversation is sealed, its safety code, and a key change in red.
    SecurityStrip *security;
    // What became of the messages sent to the peer (hidden while none was).
    DeliveryList *sentList;
    // The font dialog's own font: where the next font dialog starts, and what the display
    // pane takes when it closes. The dialog has no colour: the pane's text then takes the
    // window-text colour.
    QFont FontDialog1;
    QTimer *Timer1;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *buildTopStrip();
    QToolBar *buildToolBar();
    QWidget *buildButtonRow();
    QWidget *buildHistoryPanel();
    void connectHandlers();
    void guard(void (TForm3::*handler)());

    SettingsLinks *settings() const;
    bool saveChatLog() const;
    void setHistoryShown(bool shown);
    // Adds an entry to the history pane and, while the save option is on, to the history
    // database and the log file. name is the entry's, the peer's or the own nickname.
    void appendHistory(const QString &name, const QDateTime &at, const QString &text,
                       MessageDirection direction);
    // Appends the entries not yet written to the log file, creating it when it is missing.
    // Throws when that fails; they are then kept for the next attempt.
    void writeLog();
    void showFontName(const QFont &font);
    void showStyle(const DisplayStyle &style);
    void tellClipped();
    // Height of the desktop's decoration of a window, taken from the main window: the window's
    // heights above are its outer heights.
    int decorationHeight() const;
    void setMessColor(QPalette::ColorRole role, const QColor &color);
    DisplayStyle messStyle() const;

    MainWindowLinks &main_;
    GbkTextLimit *limit_;
    QString history_;
    // Entries made but not yet in the log file (a write failed), each ended by CR LF.
    QString unlogged_;
    // The input's text as last copied to the display pane: only a change is copied again.
    QString mirrored_;
    bool historyShown_ = false;
    bool ctrlSeen_ = false;
    bool enterSeen_ = false;
    bool clipTold_ = false;
};
