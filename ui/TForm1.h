#pragma once

#include "core/ContactStore.h"
#include "core/Dispatcher.h"
#include "core/MessageWindowBudget.h"
#include "core/StatusModes.h"
#include "ui/BuddyIds.h"
#include "ui/Cascade.h"
#include "ui/ArrivedMessage.h"
#include "ui/MainWindowLinks.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

class FileWindows;
class HistoryKeeper;
class HistorySearchWindow;
class NearbyList;
class ArrivalOrder;
class Deliveries;
class PeerSecurity;
class PresenceWhy;
class PresenceService;
class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QTimer;
class QStatusBar;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TZnUDP;
struct PeerContext;

// The main window: the buddy list with its context menu, the status bar, the menus of status
// and automatic replies, and the peer's one datagram endpoint lwudp, whose received datagrams
// go to the dispatcher. Its caption is the automatic-reply state and Tag is the file-window
// flag. It owns the windows it opens (message windows, add-friend dialogs, the chat-room
// view, the history's search window), answers the dispatcher's questions about settings and
// windows, and is what those windows reach of it through MainWindowLinks. It owns the
// searchable history (HistoryKeeper), which follows the settings window's save option, and
// shows its failures in the status bar.
class TForm1 : public QMainWindow, public MainWindowLinks {
    Q_OBJECT
public:
    static constexpr int UdpPort = 2928;
    // A nickname being typed is announced by presence once typing has paused this long, so
    // that every keystroke does not become a datagram to the whole LAN.
    static constexpr int NicknameSettleMs = 1500;
    // How long a failure of the history database stays in the status bar.
    static constexpr int HistoryFaultShownMs = 15000;

    // Binds lwudp to UdpPort on the context's bind address at once.
    explicit TForm1(PeerContext &context, QWidget *parent = nullptr);
    ~TForm1() override;

    // The settings window, created after this one; the main window reads the nickname and the
    // options from it and shows it from its menu.
    void setSettingsWindow(TForm2 *settings);
    // The most recently opened add-friend dialog while it exists, else null.
    TForm4 *addFriendDialog() const;

    ContactStore &store() { return store_; }
    Dispatcher &dispatcher() { return dispatcher_; }
    const StatusModes &statusModes() const { return modes_; }
    // The bound on the message windows one host opens.
    MessageWindowBudget &messageWindowBudget() { return messageBudget_; }
    // False when UdpPort could not be bound: the peer sends but receives nothing.
    bool receiving() const { return receiving_; }
    // Text of the status bar's one panel.
    QString statusText() const;
    // The file windows, which the file command opens a send-file window in; none until set.
    // (The dispatcher hands the file packets to them itself.)
    void setFileWindows(FileWindows *windows) { fileWindows_ = windows; }
    // Runs the start-up steps (FormShow) without showing the window, for a start hidden in the
    // tray; a later show does not run them again.
    void startHidden();
    // Ends the program: closes the window whatever hidesToTray says.
    void quit();
    // For an end that closes no window and runs no destructor (the display went, and the
    // platform ended the process): writes what waits on a timer and says goodbye to peers.
    void endAbruptly();

    // Asked when the window is closed (not quit): true keeps the program running with the
    // window hidden (the tray takes over); unset or false closes it and ends the program.
    std::function<bool()> hidesToTray;
    // Called for every message the dispatcher has shown, with the window that holds it.
    std::function<void(const ArrivedMessage &)> OnMessageShown;

    // Presence on lwudp: started once the start-up steps ran, following the settings window's
    // presence choices, the nickname and the status; its goodbye goes out when this window goes.
    PresenceService *presence() const { return presence_.get(); }
    // Keys, sealing and the pinned keys of peers (see PeerSecurity).
    PeerSecurity &security() override { return *security_; }
    Deliveries &deliveries() override { return *deliveries_; }
    FileWindows *fileWindows() const override { return fileWindows_; }
    // Whether presence says we take file sets (on; off makes us a peer that takes one file per
    // offer, as earlier versions of this program). Announced at once.
    void setAnnounceFileSets(bool on);

    // Handlers.
    void FormShow();
    void userlistDblClick();
    void N2Click();
    void N9Click();
    void N10Click();
    void N7Click();
    void safetyCodeClick();
    void N18Click();
    void N19Click();
    void N12Click();
    void N13Click();
    void N14Click();
    void N15Click();
    void N16Click();
    void N22Click();
    void N21Click();
    void szClick();
    void findHistoryClick();
    void forgetHistoryClick();

    // MainWindowLinks.
    PeerContext &context() override { return context_; }
    TZnUDP &endpoint() override { return *lwudp; }
    QWidget &widget() override { return *this; }
    SettingsLinks *settings() const override;
    void setChatMode(bool chatRoom) override;
    void openChatRoomView() override;
    void closeChatRoomView() override;
    TForm5 *chatRoomView() const override;
    QList<NearbyPeer> nearbyPeers() const override;
    HistoryKeeper &history() override { return *history_; }
    void openHistorySearch(const QString &entry) override;
    // The search window while it is open, else null.
    HistorySearchWindow *historySearch() const;

    // DispatcherWindows.
    quint8 statusFlag() const override;
    QString mainCaption() const override;
    bool autoPopup() const override;
    bool rejectStrangers() const override;
    QString ownNickname() const override;
    Gbk::Charset textCharset(const QString &ip) const override;
    void showMessageWindow(const QString &caption, const QString &ip, const QString &nc, const QString &mess,
                           bool answerable) override;
    void appendChatRoomEntry(const QString &entry) override;
    void messageShown(const QString &fromIp, const QString &name, const QString &text, bool autoReply) override;
    void buddyListChanged(const QStringList &entries) override;
    bool closeAddFriendDialog(const QString &fromIp) override;

    // The file-window flag: 1 while a send-file or receive-file window is shown.
    int Tag = 0;

    // Controls and components.
    QListWidget *userlist;
    QStatusBar *zt;
    QLabel *ztPanel0;
    QMenu *ulmenu;
    QAction *N1, *N2, *N3, *N4, *N5, *N9, *N10, *N8, *N7;
    QAction *safetyCode; // after the menu's own items: the selected buddy's safety code
    // After them: the selected buddy's history and chat log removed.
    QAction *forgetHistory;
    QMenu *statusMenu;
    QAction *N18, *N19, *N30, *N21;
    QMenu *settingsMenu;
    QMenu *N11;
    QAction *N12, *N13, *N14, *N15, *N16, *N22;
    QAction *sz;
    QAction *why;
    QAction *findHistory; // the search window of the history
    QLabel *nearbyLabel;
    NearbyList *nearbylist;
    TZnUDP *lwudp;

signals:
    // The main window was closed: the program ends.
    void closed();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildBuddyList();
    void buildContextMenu();
    void buildMainMenu();
    void connectHandlers();
    void bindEndpoint();
    void choosePreset(StatusModes::ReplyItem item);
    void showStatus();
    void showReply();
    void showCaptionInStatus();
    void applyPresenceSettings();
    void announceOwnInfo();

    void tellMissingIdentity();
    // Entry text of the selected buddy, or nothing when no buddy is selected.
    std::optional<QString> selectedEntry() const;
    // The entry number of the selected buddy; none, after the usual box, when none is selected.
    std::optional<QString> selectedBuddyKey() const;
    // A new message window with its caption and fields set, not yet shown.
    TForm3 *openMessageWindow(const QString &caption, const QString &ip, const QString &nc);
    // The windows the buddy list's commands open.
    void openSendMessageWindow(const QString &ip, const QString &nc);
    void openSendFileWindow(const QString &ip);
    void openAddFriendDialog();
    // The ordinary friend request to address, through a new add-friend dialog.
    void requestFriend(const QString &address);
    void openPresenceWhy();
    void buildNearbySection();
    // Presence reports a peer: a buddy of that id follows it to its address.
    void followBuddy(const NearbyPeer &peer);
    void buddiesChanged();

    PeerContext &context_;
    StatusModes modes_;
    ContactStore store_;
    QPointer<TForm2> settings_;
    // Where a friend accept goes; null once that dialog has been released.
    QPointer<TForm4> addFriendDialog_;
    // The chat-room view while chat-room mode lasts; null once it closes.
    QPointer<TForm5> chatRoom_;
    bool receiving_ = false;
    bool started_ = false;
    bool quitting_ = false;
    FileWindows *fileWindows_ = nullptr;
    bool announceFileSets_ = true;
    // Where the next message window opens.
    Cascade messageCascade_{QPoint(266, 68)};
    MessageWindowBudget messageBudget_;
    Dispatcher dispatcher_;
    // Made after lwudp and released before it (see the destructor).
    std::unique_ptr<PresenceService> presence_;
    std::unique_ptr<PeerSecurity> security_;
    std::unique_ptr<ArrivalOrder> arrivals_;
    std::unique_ptr<Deliveries> deliveries_;
    BuddyIds buddyIds_;
    QPointer<PresenceWhy> why_;
    std::unique_ptr<HistoryKeeper> history_;
    QPointer<HistorySearchWindow> historySearch_;
    QTimer *nicknameSettle_;
};
