#include "ui/TForm1.h"

#include "net/Exceptions.h"
#include "core/FileWindows.h"
#include "core/PeerContext.h"
#include "core/ArrivalOrder.h"
#include "core/Deliveries.h"
#include "core/PeerSecurity.h"
#include "core/PresenceId.h"
#include "core/PresenceService.h"
#include "core/Prompts.h"
#include "net/TZnUDP.h"
#include "ui/MarkedItemDelegate.h"
#include "ui/FileDropTarget.h"
#include "ui/GuardedSlot.h"
#include "ui/HistoryKeeper.h"
#include "ui/HistorySearchWindow.h"
#include "ui/ListKeys.h"
#include "ui/ListSelection.h"
#include "ui/NearbyList.h"
#include "ui/SafetyCodeDialog.h"
#include "ui/SecurityMarks.h"
#include "ui/UnreadMarks.h"
#include "ui/PaneColors.h"
#include "ui/PaneText.h"
#include "ui/PlainToolTip.h"
#include "ui/PresenceWhy.h"
#include "ui/TForm2.h"
#include "ui/TForm3.h"
#include "ui/TForm4.h"
#include "ui/TForm5.h"
#include "ui/WindowAccessible.h"
#include "ui/WindowPlacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;
using Item = StatusModes::ReplyItem;

namespace {

// "宋体" 12 pixels high; where that face is missing, the nearest CJK face of the same height.
QFont mainWindowFont()
{
    QFont font;
    font.setFamilies({u"宋体"_s, u"SimSun"_s, u"NSimSun"_s, u"WenQuanYi Micro Hei"_s, u"Noto Sans CJK SC"_s,
                      u"AR PL UMing CN"_s});
    font.setPixelSize(12);
    return font;
}

// Menu captions are shown as written: an "&" in them is a character, not a mnemonic.
QString literalCaption(QString caption) { return caption.replace(u'&', u"&&"_s); }

// Which sealed messages were shown (see ArrivalOrder), beside myinfo.ini.
const QString SeenMessagesFileName = u"messages.seen"_s;

} // namespace

TForm1::TForm1(PeerContext &context, QWidget *parent)
    : QMainWindow(parent,
                  Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                      | Qt::WindowCloseButtonHint),
      lwudp(new TZnUDP(this)), context_(context), store_(context.configDir, *context.prompts),
      dispatcher_(*lwudp, store_, *this, *context.prompts, *context.reporter),
      presence_(std::make_unique<PresenceService>(*lwudp, PresenceId::loadOrCreate(context.configDir))),
      buddyIds_(store_)
{
    dispatcher_.OnPresence = [this](const QByteArray &datagram, const QString &fromIp) {
        presence_->handleDatagram(datagram, fromIp);
    };
    security_ = std::make_unique<PeerSecurity>(context.configDir, *presence_);
    dispatcher_.setSecurity(security_.get());
    lwudp->OnSeal = [this](const QString &host, const QByteArray &datagram) {
        return security_->outgoing(host, datagram);
    };
    connect(security_.get(), &PeerSecurity::identityChanged, this, &TForm1::announceOwnInfo);
    arrivals_ = std::make_unique<ArrivalOrder>(QDir(context.configDir).filePath(SeenMessagesFileName));
    deliveries_ = std::make_unique<Deliveries>(context.configDir, *security_, *presence_, *lwudp);
    dispatcher_.setSealedMessages(arrivals_.get(), deliveries_.get());
    nicknameSettle_ = new QTimer(this);
    nicknameSettle_->setSingleShot(true);
    nicknameSettle_->setInterval(NicknameSettleMs);
    connect(nicknameSettle_, &QTimer::timeout, this, &TForm1::announceOwnInfo);
    // Before any window is read by a screen reader: the plain windows are windows to it.
    WindowAccessible::install();
    setFont(mainWindowFont());
    setWindowTitle(modes_.caption());
    buildBuddyList();
    new SecurityMarks(*userlist, *security_, *presence_, [this](const QListWidgetItem &item) {
        return store_.buddyIp(ContactStore::entryNumber(UnreadMarks::entryOf(item)));
    }, this);
    buildNearbySection();
    buildContextMenu();
    buildMainMenu();
    // Made inside this window, so that it measures itself in this window's font from the start.
    zt = new QStatusBar(this);
    zt->setSizeGripEnabled(false);
    ztPanel0 = new QLabel;
    ztPanel0->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    zt->addWidget(ztPanel0, 1);
    setStatusBar(zt);
    showCaptionInStatus();
    history_ = std::make_unique<HistoryKeeper>(context.dataDir, *context.prompts,
                                               [this] { return ownNickname(); });
    connect(history_.get(), &HistoryKeeper::fault, this,
            [this](const QString &text) { zt->showMessage(text, HistoryFaultShownMs); });
    setFixedWidth(150);
    setMinimumHeight(278);
    resize(150, 278);
    connectHandlers();
    bindEndpoint();
    centreOnDesktop(this);
}

TForm1::~TForm1()
{
    // Presence says goodbye through the endpoint; then the endpoint goes, so that no datagram
    // reaches a half-destroyed window. What listens to presence goes first.
    delete historySearch_; // its searches end before the history goes
    history_.reset();
    dispatcher_.setSealedMessages(nullptr, nullptr);
    deliveries_.reset();
    arrivals_.reset();
    presence_.reset();
    lwudp->OnSeal = nullptr;
    security_.reset();
    delete lwudp;
    if (settings_)
        settings_->setMainWindow(nullptr);
}

void TForm1::buildBuddyList()
{
    userlist = new QListWidget;
    userlist->setObjectName(u"userlist"_s);
    // No text stands beside it: a screen reader names it so.
    userlist->setAccessibleName(u"好友列表"_s);
    userlist->setSelectionMode(QAbstractItemView::SingleSelection);
    userlist->setItemDelegate(new MarkedItemDelegate(12, userlist));
    setPaneColors(userlist, QColor(231, 242, 185));
    userlist->setContextMenuPolicy(Qt::CustomContextMenu);
    userlist->viewport()->installEventFilter(this);
    // Files and folders dropped on a buddy go to that buddy.
    auto *drops = new FileDropTarget(
        this, [this](QWidget *, const QPoint &pos) { return fileWindows_ && userlist->itemAt(pos); },
        [this](QWidget *, const QPoint &pos, const QStringList &paths) {
            guardedIn(context_, this, [&] {
                QListWidgetItem *item = userlist->itemAt(pos);
                if (!item || !fileWindows_)
                    return;
                userlist->setCurrentItem(item);
                if (const std::optional<QString> key = selectedBuddyKey())
                    fileWindows_->offerPaths(store_.buddyIp(*key), paths);
            });
        });
    drops->watch(userlist->viewport());
}

// Below the buddies, the nearby peers that are not buddies. A buddy that presence reports
// is followed first, so that the section sees it where it is now.
void TForm1::buildNearbySection()
{
    nearbyLabel = new QLabel(u"附近的人"_s);
    nearbylist = new NearbyList([this](const NearbyPeer &peer) { return buddyIds_.isBuddy(peer); });
    // The label names the list for a screen reader (a list's name is not taken from its label).
    nearbyLabel->setBuddy(nearbylist);
    nearbylist->setAccessibleName(nearbyLabel->text());
    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    layout->addWidget(userlist, 3);
    layout->addWidget(nearbyLabel);
    layout->addWidget(nearbylist, 2);
    setCentralWidget(central);
    const auto follow = [this](const NearbyPeer &peer) {
        guardedIn(context_, this, [&] { followBuddy(peer); });
    };
    connect(presence_.get(), &PresenceService::peerFound, this, follow);
    connect(presence_.get(), &PresenceService::peerChanged, this, follow);
    nearbylist->follow(*presence_);
    connect(nearbylist, &NearbyList::friendRequested, this,
            [this](const QString &address) { guardedIn(context_, this, [&] { requestFriend(address); }); });
    connect(nearbylist, &NearbyList::refreshRequested, presence_.get(), &PresenceService::refresh);
    connect(nearbylist, &NearbyList::listChanged, this, [this] {
        if (addFriendDialog_)
            addFriendDialog_->setNearbyPeers(nearbylist->shown());
    });
}

void TForm1::buildContextMenu()
{
    ulmenu = new QMenu(this);
    ulmenu->setFont(font());
    N1 = ulmenu->addAction(u"发送消息"_s);
    N2 = ulmenu->addAction(u"传送文件"_s);
    N3 = ulmenu->addSeparator();
    N4 = ulmenu->addAction(u"语音聊天"_s);
    N5 = ulmenu->addSeparator();
    N9 = ulmenu->addAction(u"添加好友"_s);
    N10 = ulmenu->addAction(u"删除好友"_s);
    N8 = ulmenu->addSeparator();
    N7 = ulmenu->addAction(u"聊天模式"_s);
    N7->setData(0); // the item's Tag: 0 auto-pop-up mode, 1 chat-room mode
    safetyCode = ulmenu->addAction(u"安全码…"_s);
    forgetHistory = ulmenu->addAction(u"删除与此好友的记录"_s);
}

void TForm1::buildMainMenu()
{
    menuBar()->setFont(font());
    statusMenu = menuBar()->addMenu(u"状态"_s);
    N18 = statusMenu->addAction(u"一般状态"_s);
    N19 = statusMenu->addAction(u"安全状态"_s);
    N30 = statusMenu->addSeparator();
    N21 = statusMenu->addAction(u"退出"_s);
    settingsMenu = menuBar()->addMenu(u"系统设置"_s);
    N11 = settingsMenu->addMenu(u"自动回复"_s);
    N12 = N11->addAction(StatusModes::presetCaption(Item::N12));
    N13 = N11->addAction(StatusModes::presetCaption(Item::N13));
    N14 = N11->addAction(StatusModes::presetCaption(Item::N14));
    N15 = N11->addAction(StatusModes::presetCaption(Item::N15));
    N11->addSeparator();
    N16 = N11->addAction(literalCaption(modes_.customItemCaption()));
    N11->addSeparator();
    N22 = N11->addAction(u"取消自动回复"_s);
    sz = settingsMenu->addAction(u"设置面板"_s);
    why = settingsMenu->addAction(u"为什么看不到？"_s);
    findHistory = settingsMenu->addAction(u"查找聊天记录…"_s);
    findHistory->setShortcut(QKeySequence::Find);
    for (QAction *item : {N18, N19, N12, N13, N14, N15, N16})
        item->setCheckable(true);
    for (QMenu *menu : {statusMenu, settingsMenu, N11})
        menu->setFont(font());
}

void TForm1::connectHandlers()
{
    const PeerContext &context = context_;
    const auto bind = [&](QAction *item, void (TForm1::*handler)()) {
        connect(item, &QAction::triggered, this, guardedSlot(context, this, handler));
    };
    bind(N1, &TForm1::userlistDblClick);
    bind(N2, &TForm1::N2Click);
    bind(N9, &TForm1::N9Click);
    bind(N10, &TForm1::N10Click);
    bind(N7, &TForm1::N7Click);
    bind(safetyCode, &TForm1::safetyCodeClick);
    bind(N18, &TForm1::N18Click);
    bind(N19, &TForm1::N19Click);
    bind(N21, &TForm1::N21Click);
    bind(N12, &TForm1::N12Click);
    bind(N13, &TForm1::N13Click);
    bind(N14, &TForm1::N14Click);
    bind(N15, &TForm1::N15Click);
    bind(N16, &TForm1::N16Click);
    bind(N22, &TForm1::N22Click);
    bind(sz, &TForm1::szClick);
    bind(why, &TForm1::openPresenceWhy);
    bind(findHistory, &TForm1::findHistoryClick);
    bind(forgetHistory, &TForm1::forgetHistoryClick);
    connect(userlist, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { ulmenu->popup(userlist->viewport()->mapToGlobal(pos)); });
    // The menu from the Menu key and Shift+F10; Enter opens a message window, as a double-click.
    new ListKeys(*userlist, guardedSlot(context, this, &TForm1::userlistDblClick));
    // F10 opens the menu bar at its first menu, as on the desktop's other programs.
    connect(new QShortcut(Qt::Key_F10, this), &QShortcut::activated, this,
            [this] { menuBar()->setActiveAction(statusMenu->menuAction()); });
}

void TForm1::bindEndpoint()
{
    lwudp->BindAddress = context_.bindAddress;
    lwudp->RemotePort = UdpPort;
    lwudp->ReportLevel = 1;
    lwudp->OnDataReceived = [this](TZnUDP *sender, int bytes, const QString &fromIp, int port) {
        // A box the network raises has no window of its own: it belongs to the main window.
        const Prompts::Owner owner(*context_.prompts, this);
        dispatcher_.lwudpDataReceived(sender, bytes, fromIp, port);
    };
    guardedIn(context_, this, [this] { lwudp->SetLocalPort(UdpPort); });
    receiving_ = lwudp->BoundPort() == UdpPort;
}

void TForm1::setSettingsWindow(TForm2 *settings)
{
    settings_ = settings;
    if (!settings)
        return;
    settings->setMainWindow(this);
    connect(settings, &TForm2::presenceSettingsChanged, this, &TForm1::applyPresenceSettings);
    connect(settings, &TForm2::nicknameChanged, nicknameSettle_, qOverload<>(&QTimer::start));
    // The history follows the save option; turning it off asks about what is stored.
    // Its boxes belong to the settings window, where the option was changed.
    connect(settings, &TForm2::saveChatLogChanged, this, [this](bool on) {
        guardedIn(context_, settings_.data(),
                  [&] { on ? history_->setRecording(true) : history_->recordingTurnedOff(); });
    });
}

void TForm1::applyPresenceSettings()
{
    const PresenceSettings chosen = settings_ ? settings_->presenceSettings() : PresenceSettings();
    presence_->setChosenInterfaces(chosen.interfaces);
    presence_->setEnabled(chosen.enabled);
}

void TForm1::setAnnounceFileSets(bool on)
{
    announceFileSets_ = on;
    announceOwnInfo();
}

// What presence announces of us: the nickname as the name box holds it, the status, that
// message text may come as GB18030, and our identity key for sealed datagrams and file sets.
void TForm1::announceOwnInfo()
{
    // What is announced now is the name as it stands: a pause in typing has nothing to add.
    nicknameSettle_->stop();
    const QByteArray key = security_->ownPublicKey();
    const quint16 sets = announceFileSets_ ? PresenceDatagram::CapabilityFileSets : 0;
    const quint16 sealed = key.isEmpty() ? 0 : PresenceDatagram::CapabilitySealed | sets;
    presence_->setOwnInfo(ownNickname(), statusFlag(), PresenceDatagram::CapabilityGb18030 | sealed, key);
}

TForm4 *TForm1::addFriendDialog() const { return addFriendDialog_; }

QString TForm1::statusText() const { return ztPanel0->text(); }

void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (started_ || event->spontaneous())
        return;
    started_ = true;
    guardedIn(context_, this, [this] { FormShow(); });
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (!quitting_ && hidesToTray && hidesToTray()) {
        event->ignore();
        hide();
        return;
    }
    quitting_ = false;
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == userlist->viewport() && event->type() == QEvent::MouseButtonDblClick)
        guardedIn(context_, this, [this] { userlistDblClick(); });
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::startHidden()
{
    if (started_)
        return;
    started_ = true;
    guardedIn(context_, this, [this] { FormShow(); });
}

void TForm1::endAbruptly()
{
    if (chatRoom_) {
        try {
            chatRoom_->saveWaiting();
        } catch (const Exception &) {
            // No one to tell: the display is gone. The entries stay in the view only.
        }
    }
    security_->saveNow();
    deliveries_->saveSequences();
    if (presence_)
        presence_->stop();
}

void TForm1::quit()
{
    quitting_ = true;
    close();
}

void TForm1::FormShow()
{
    if (!receiving_)
        context_.prompts->information(u"UDP端口2928已被其他程序占用，本程序将无法接收消息，但仍可发送。"_s);
    const bool remember = settings_ && settings_->presenceSettings().rememberBuddies;
    const QString name = buddyIds_.open(remember);
    userlist->clear();
    userlist->addItems(store_.buddyEntries()); // none unless remembered
    for (const QByteArray &id : buddyIds_.ids())
        presence_->table().setKnown(id, true);
    if (name.isEmpty()) {
        context_.prompts->information(u"第一次使用本程序,请先为自己起一个昵称!"_s);
        szClick();
        if (settings_)
            settings_->myname->setFocus(); // where the nickname is typed
    }
    if (settings_)
        settings_->setNickname(name);
    N19Click();
    applyPresenceSettings();
    announceOwnInfo();
    presence_->start();
    tellMissingIdentity();
    history_->setRecording(settings_ && settings_->saveChatLog());
}

// Without an identity key nothing is sealed: the person learns why, and what to do.
void TForm1::tellMissingIdentity()
{
    if (security_->hasIdentity())
        return;
    const QString path = QDir(context_.configDir).filePath(PeerSecurity::KeyFileName);
    context_.prompts->information(
        (QFile::exists(path) ? u"无法读取身份密钥文件，请检查或删除这个文件，然后重新启动。"_s
                             : u"无法保存身份密钥文件。"_s)
        + u"这次运行不加密，消息和文件以明文传送：\n"_s + path);
}

std::optional<QString> TForm1::selectedEntry() const
{
    const int row = selectedRow(userlist);
    if (row < 0)
        return std::nullopt;
    return userlist->item(row)->text();
}

std::optional<QString> TForm1::selectedBuddyKey() const
{
    const std::optional<QString> entry = selectedEntry();
    if (!entry) {
        context_.prompts->information(u"你发给鬼阿？名字也不选～切！"_s);
        return std::nullopt;
    }
    return ContactStore::entryNumber(*entry);
}

void TForm1::userlistDblClick()
{
    if (const std::optional<QString> key = selectedBuddyKey())
        openSendMessageWindow(store_.buddyIp(*key), store_.buddyEntry(*key));
}

void TForm1::N2Click()
{
    if (Tag == 1) {
        context_.prompts->message(u"正在传送文件"_s);
        return;
    }
    if (const std::optional<QString> key = selectedBuddyKey())
        openSendFileWindow(store_.buddyIp(*key));
}

void TForm1::N9Click() { openAddFriendDialog(); }

void TForm1::N10Click()
{
    const int row = selectedRow(userlist);
    const std::optional<QString> entry = selectedEntry();
    if (!store_.deleteSelected(entry))
        return;
    buddyIds_.forget(ContactStore::entryNumber(*entry));
    delete userlist->takeItem(row);
    userlist->clearSelection();
    nearbylist->refilter();
}

// The safety code of the selected buddy, to compare and mark.
void TForm1::safetyCodeClick()
{
    const std::optional<QString> key = selectedBuddyKey();
    if (!key)
        return;
    auto *dialog = new SafetyCodeDialog(*security_, store_.buddyIp(*key), store_.buddyEntry(*key), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

// The settings window's box autopop follows, and its change opens or closes the chat-room view.
// The search window over every buddy's messages.
void TForm1::findHistoryClick() { openHistorySearch(QString()); }

// The selected buddy's messages leave the history and its chat log goes, once confirmed.
void TForm1::forgetHistoryClick()
{
    if (const std::optional<QString> key = selectedBuddyKey())
        history_->forgetBuddy(store_.buddyEntry(*key));
}

void TForm1::openHistorySearch(const QString &entry)
{
    if (!historySearch_) {
        historySearch_ = new HistorySearchWindow(*history_, this);
        historySearch_->setAttribute(Qt::WA_DeleteOnClose);
    }
    historySearch_->setBuddyFilter(entry.isEmpty() ? QString() : HistoryKeeper::buddyOf(entry));
    historySearch_->show();
    historySearch_->raise();
    historySearch_->activateWindow();
    historySearch_->query->setFocus();
}

HistorySearchWindow *TForm1::historySearch() const { return historySearch_; }

void TForm1::N7Click()
{
    const bool toChatRoom = N7->data().toInt() == 0;
    setChatMode(toChatRoom);
    if (settings_)
        settings_->setAutoPopup(!toChatRoom);
}

void TForm1::setChatMode(bool chatRoom)
{
    N7->setData(chatRoom ? 1 : 0); // the item's Tag
    N7->setText(chatRoom ? u"Kiwq模式"_s : u"聊天模式"_s);
}

void TForm1::N18Click()
{
    modes_.chooseNormal();
    showStatus();
}

void TForm1::N19Click()
{
    modes_.chooseSecure();
    showStatus();
}

void TForm1::showStatus()
{
    N18->setChecked(modes_.normalChecked());
    N19->setChecked(modes_.secureChecked());
    ztPanel0->setText(modes_.statusText());
    announceOwnInfo();
}

void TForm1::N12Click() { choosePreset(Item::N12); }
void TForm1::N13Click() { choosePreset(Item::N13); }
void TForm1::N14Click() { choosePreset(Item::N14); }
void TForm1::N15Click() { choosePreset(Item::N15); }

void TForm1::choosePreset(Item item)
{
    modes_.choosePreset(item);
    showReply();
}

void TForm1::N16Click()
{
    modes_.beginCustom();
    showReply();
    bool accepted = false;
    const QString text = context_.prompts->input(u"输入自定义回复内容"_s, QString(), 255, &accepted);
    modes_.setCustomText(accepted ? text : QString());
    showReply();
}

void TForm1::N22Click()
{
    modes_.cancelReply();
    showReply();
}

void TForm1::showReply()
{
    const Item checked = modes_.checkedReply();
    N12->setChecked(checked == Item::N12);
    N13->setChecked(checked == Item::N13);
    N14->setChecked(checked == Item::N14);
    N15->setChecked(checked == Item::N15);
    N16->setChecked(checked == Item::N16);
    N16->setText(literalCaption(modes_.customItemCaption()));
    setWindowTitle(modes_.caption());
    showCaptionInStatus();
}

// The caption (the automatic-reply state) is wider than the window's title bar: the status
// panel's tooltip shows it whole.
void TForm1::showCaptionInStatus()
{
    ztPanel0->setToolTip(plainToolTip(windowTitle()));
    ztPanel0->setAccessibleDescription(windowTitle()); // the tooltip's text, for a screen reader
}

void TForm1::N21Click()
{
    if (context_.prompts->confirm(u"真的退出么？"_s, false) == Prompts::Answer::Yes)
        quit();
}

void TForm1::szClick()
{
    if (!settings_)
        return;
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
}

quint8 TForm1::statusFlag() const { return modes_.statusFlag(); }

QString TForm1::mainCaption() const { return windowTitle(); }

bool TForm1::autoPopup() const { return !settings_ || settings_->autoPopup(); }

bool TForm1::rejectStrangers() const { return settings_ && settings_->rejectStrangers(); }

SettingsLinks *TForm1::settings() const { return settings_; }

QString TForm1::ownNickname() const { return settings_ ? settings_->nickname() : QString(); }

// The message went to ip's newest message window in auto-pop-up mode, else to the chat-room view.
void TForm1::messageShown(const QString &fromIp, const QString &name, const QString &text, bool autoReply)
{
    if (!OnMessageShown)
        return;
    QWidget *window = autoPopup() ? qobject_cast<QWidget *>(messageBudget_.newest(fromIp)) : chatRoom_.data();
    OnMessageShown({fromIp, name, text, autoReply, window});
}

void TForm1::buddyListChanged(const QStringList &entries)
{
    userlist->clear();
    userlist->addItems(entries);
    buddiesChanged();
}

// A new buddy heard by presence learns its id, and leaves the nearby section.
void TForm1::buddiesChanged()
{
    for (const NearbyPeer &peer : presence_->peers())
        followBuddy(peer);
    nearbylist->refilter();
}

void TForm1::followBuddy(const NearbyPeer &peer)
{
    buddyIds_.follow(peer);
    if (buddyIds_.isBuddy(peer))
        presence_->table().setKnown(peer.id, true);
}

QList<NearbyPeer> TForm1::nearbyPeers() const { return nearbylist->shown(); }

// GB18030 both ways only with a peer that announced it while we announce it too (presence on).
Gbk::Charset TForm1::textCharset(const QString &ip) const
{
    for (const NearbyPeer &peer : presence_->peers())
        if ((peer.capabilities & PresenceDatagram::CapabilityGb18030)
            && (peer.address == ip || peer.addresses.contains(ip)))
            return Gbk::Charset::Gb18030;
    return Gbk::Charset::Gbk;
}

void TForm1::requestFriend(const QString &address)
{
    openAddFriendDialog();
    addFriendDialog_->dfip->setText(address);
    addFriendDialog_->Button1Click();
}

// One window at a time: a second click brings the open one up with fresh figures.
void TForm1::openPresenceWhy()
{
    if (!why_) {
        why_ = new PresenceWhy(*presence_, this);
        why_->setAttribute(Qt::WA_DeleteOnClose);
    }
    why_->reread();
    why_->show();
    why_->raise();
}

// --- Windows opened from the main window and by the dispatcher. Without file windows the
// file command opens nothing.

void TForm1::openSendMessageWindow(const QString &ip, const QString &nc)
{
    openMessageWindow(u"发送消息"_s, ip, nc)->show();
}

void TForm1::openSendFileWindow(const QString &ip)
{
    if (fileWindows_)
        fileWindows_->openSendFileWindow(ip);
}

void TForm1::openAddFriendDialog()
{
    addFriendDialog_ = new TForm4(*this);
    addFriendDialog_->show();
}

// The window's own show steps report their errors themselves, so this returns normally and
// the dispatcher goes on to its automatic reply.
// Past its budget a host's message joins its newest window, if that is still open.
void TForm1::showMessageWindow(const QString &caption, const QString &ip, const QString &nc,
                               const QString &mess, bool answerable)
{
    if (!messageBudget_.allows(ip)) {
        auto *newest = qobject_cast<TForm3 *>(messageBudget_.newest(ip));
        if (newest && newest->appendReceived(mess, !answerable))
            return;
    }
    TForm3 *window = openMessageWindow(caption, ip, nc);
    messageBudget_.opened(ip, window);
    PaneText::set(window->mess, mess);
    window->fs->setEnabled(answerable);
    window->inpu->setEnabled(answerable);
    // The person may be typing in another window: this one waits to be noticed instead.
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    // What a screen reader says of the window as it appears: who wrote what, as shown.
    window->setAccessibleDescription(nc + u'\n' + window->mess->toPlainText());
    window->show();
    QApplication::alert(window);
}

void TForm1::appendChatRoomEntry(const QString &entry)
{
    if (chatRoom_)
        chatRoom_->appendEntry(entry);
}

TForm5 *TForm1::chatRoomView() const { return chatRoom_; }

void TForm1::openChatRoomView()
{
    chatRoom_ = new TForm5(*this);
    chatRoom_->show();
}

// Closing the view ticks autopop, which asks for this once more: the view is then already
// closing, and its close has no further effect.
void TForm1::closeChatRoomView()
{
    TForm5 *view = chatRoom_;
    chatRoom_ = nullptr;
    if (view)
        view->close();
}

bool TForm1::closeAddFriendDialog(const QString &fromIp)
{
    if (!addFriendDialog_ || !addFriendDialog_->asked(fromIp))
        return false;
    addFriendDialog_->acceptReply();
    return true;
}

TForm3 *TForm1::openMessageWindow(const QString &caption, const QString &ip, const QString &nc)
{
    auto *window = new TForm3(*this);
    window->setWindowTitle(caption);
    window->ip->setText(ip);
    window->nc->setText(nc);
    // The desktop's decoration of the new window is taken to be the main window's.
    const QSize decoration = isVisible() ? frameGeometry().size() - size() : QSize();
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen)
        window->move(messageCascade_.next(window->size() + decoration, screen->availableGeometry()));
    return window;
}
