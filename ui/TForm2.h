#pragma once

#include "ui/DisplayStyle.h"
#include "ui/PresenceSettings.h"
#include "ui/SettingsLinks.h"

#include <QPointer>
#include <QWidget>

#include <vector>

class MainWindowLinks;
class MediaPlayer;
class PresencePage;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class QToolButton;
class TForm5;
struct PeerContext;

// The settings window: nickname and options, background music, and the About tab. It lives
// from program start to end (closing only hides it) and holds settings that other windows
// read through its accessors: the own nickname (myname), auto-pop-up mode, save chat log,
// reject strangers' messages and the message windows' display style (sf). Its pages and their
// controls are made when it is first shown (or buildPages is called): until then it holds the
// options as plain values, so that a program that never opens it lays out none of its texts
// and loads none of its controls' code.
class TForm2 : public QWidget, public SettingsLinks {
    Q_OBJECT
public:
    // Longest own nickname, in GBK bytes.
    static constexpr int NicknameBytes = 20;

    // Takes over the player (as its Qt parent); without one it plays through Qt Multimedia.
    explicit TForm2(PeerContext &context, MediaPlayer *player = nullptr, QWidget *parent = nullptr);

    // Makes the pages and their controls, showing the options held so far; once only.
    void buildPages();
    bool pagesBuilt() const { return PageControl1 != nullptr; }
    // Adds a page at index among the window's pages, now or when they are made.
    void insertPage(int index, QWidget *page, const QString &title);

    // The own nickname: the current text of myname, saved or not.
    QString nickname() const;
    // Puts a nickname into myname, cut to NicknameBytes on a character boundary.
    void setNickname(const QString &name);

    // The options, as their check boxes show them.
    bool autoPopup() const;
    bool rejectStrangers() const;
    bool saveChatLog() const override;
    void setAutoPopup(bool on) override;
    DisplayStyle displayStyle() const override { return sf; }
    void setDisplayStyle(const DisplayStyle &style) override { sf = style; }

    // The main window, which opens and closes the chat-room view as auto-pop-up mode is
    // cleared and set (set by the main window; null once it is gone).
    void setMainWindow(MainWindowLinks *main);
    // The current chat-room view, which the main window owns: null in auto-pop-up mode.
    TForm5 *chatRoomView() const;

    // The presence choices of the presence tab, as stored.
    PresenceSettings presenceSettings() const;

    MediaPlayer &player() { return *player_; }
    int trackIndex() const { return trackIndex_; }

    // The playlist's file filter: one entry, described by its patterns.
    static QString playlistFilter();
    // The host label's text; an unknown address or name shows as "未知".
    static QString hostLabelText(const QString &address, const QString &hostName);
    // This machine's addresses on the LAN: those of its up, non-loopback IPv4 interfaces.
    static QStringList ownAddresses();

    // Handlers.
    void FormShow();
    void Button1Click();
    void autopopClick();
    void Button4Click();
    void Button5Click();
    void mlistClick();
    void mlistDblClick();
    void Timer1Timer();
    void aboutShow();
    void gethostif();
    void keepbcfClick();

    // Controls: null until the pages are made.
    QTabWidget *PageControl1 = nullptr;
    QWidget *w1 = nullptr;
    QLineEdit *myname = nullptr;
    QCheckBox *autopop = nullptr;
    QCheckBox *bcf = nullptr;
    // Ticks bcf at every start (kept in myinfo.ini; off when the file has no such key).
    QCheckBox *keepbcf = nullptr;
    QCheckBox *jjmsrxx = nullptr;
    QPushButton *Button1 = nullptr;
    QLabel *version = nullptr;
    QLabel *Image1 = nullptr;
    QWidget *w3 = nullptr;
    QListWidget *mlist = nullptr;
    QWidget *mdp = nullptr;
    QToolButton *mdpPlay = nullptr;
    QToolButton *mdpPause = nullptr;
    QToolButton *mdpStop = nullptr;
    QPushButton *Button4 = nullptr;
    QPushButton *Button5 = nullptr;
    QWidget *about = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    QLabel *hostif = nullptr;
    PresencePage *presencePage = nullptr;
    QTimer *Timer1;

    // The message windows' display style.
    DisplayStyle sf = DisplayStyle::initial();

    void setVisible(bool visible) override;

signals:
    // A presence choice changed (and is stored): the main window applies it.
    void presenceSettingsChanged();
    // The nickname changed, typed or put in.
    void nicknameChanged();
    // The save option (bcf) was ticked or cleared.
    void saveChatLogChanged(bool on);

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *buildPersonalTab();
    QWidget *buildMusicTab();
    QWidget *buildAboutTab();
    QWidget *buildPlayerControl();
    void connectHandlers();
    void playTrack(int index);
    void mediaFailed(const QString &description);
    void resetIdentity();

    // A page added before the pages were made.
    struct PendingPage {
        int index;
        QPointer<QWidget> page;
        QString title;
    };

    PeerContext &context_;
    // The options while there are no controls to hold them.
    QString nickname_;
    bool autoPopup_ = true;
    PresenceSettings presence_;
    // Whether bcf is ticked at start: the choice of keepbcf, as stored.
    bool keepSaveChatLog_ = false;
    std::vector<PendingPage> pendingPages_;
    MainWindowLinks *main_ = nullptr;
    MediaPlayer *player_;
    int trackIndex_ = 0;
    bool fileGiven_ = false;
};
