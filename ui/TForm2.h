#pragma once

#include "ui/DisplayStyle.h"
#include "ui/PresenceSettings.h"
#include "ui/SettingsLinks.h"

#include <QWidget>

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
// reject strangers' messages and the message windows' display style (sf).
class TForm2 : public QWidget, public SettingsLinks {
    Q_OBJECT
public:
    // Longest own nickname, in GBK bytes.
    static constexpr int NicknameBytes = 20;

    // Takes over the player (as its Qt parent); without one it plays through Qt Multimedia.
    explicit TForm2(PeerContext &context, MediaPlayer *player = nullptr, QWidget *parent = nullptr);

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

    // Controls.
    QTabWidget *PageControl1;
    QWidget *w1;
    QLineEdit *myname;
    QCheckBox *autopop;
    QCheckBox *bcf;
    QCheckBox *jjmsrxx;
    QPushButton *Button1;
    QLabel *version;
    QLabel *Image1;
    QWidget *w3;
    QListWidget *mlist;
    QWidget *mdp;
    QToolButton *mdpPlay;
    QToolButton *mdpPause;
    QToolButton *mdpStop;
    QPushButton *Button4;
    QPushButton *Button5;
    QWidget *about;
    QPlainTextEdit *Memo1 = nullptr; // null until the window is first shown
    QLabel *hostif = nullptr;
    QTimer *Timer1;
    PresencePage *presencePage;

    // The message windows' display style.
    DisplayStyle sf = DisplayStyle::initial();

signals:
    // A presence choice changed (and is stored): the main window applies it.
    void presenceSettingsChanged();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildPersonalTab(QWidget *tab);
    QWidget *buildMusicTab();
    // The About page's contents (Memo1, hostif), made when the window is first shown.
    void fillAboutTab();
    QWidget *buildPlayerControl();
    void connectHandlers();
    void playTrack(int index);
    void mediaFailed(const QString &description);

    PeerContext &context_;
    MainWindowLinks *main_ = nullptr;
    MediaPlayer *player_;
    int trackIndex_ = 0;
    bool fileGiven_ = false;
};
