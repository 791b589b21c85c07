#include "ui/TForm2.h"

#include "net/HostLookup.h"

#include "core/ContactStore.h"
#include "core/Gbk.h"
#include "core/IniFile.h"
#include "core/PeerContext.h"
#include "core/PeerSecurity.h"
#include "core/Prompts.h"
#include "net/Exceptions.h"
#include "net/HostLookup.h"
#include "net/Ipv4Interfaces.h"
#include "ui/Dialogs.h"
#include "ui/GbkByteLimitValidator.h"
#include "ui/GuardedSlot.h"
#include "ui/ListKeys.h"
#include "ui/ListSelection.h"
#include "ui/MainWindowLinks.h"
#include "ui/ModuleMediaPlayer.h"
#include "ui/PresencePage.h"
#include "ui/WindowPlacement.h"

#include <QCheckBox>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QSysInfo>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

static void initResources() { Q_INIT_RESOURCE(ui); }

namespace {

// Where keepbcf's choice is kept: a key of its own beside the nickname in myinfo.ini.
const QString KeepSaveChatLogSection = u"MainSection"_s;
const QString KeepSaveChatLogKey = u"KeepSaveChatLog"_s;

IniFile settingsFile(const PeerContext &context) { return IniFile(context.configDir + u"/myinfo.ini"_s); }

} // namespace

TForm2::TForm2(PeerContext &context, MediaPlayer *player, QWidget *parent)
    : QWidget(parent,
              Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                  | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      context_(context), presence_(PresenceSettings::load(context.configDir)),
      keepSaveChatLog_(settingsFile(context).readInteger(KeepSaveChatLogSection, KeepSaveChatLogKey, 0) != 0),
      player_(player ? player : new ModuleMediaPlayer)
{
    initResources();
    player_->setParent(this);
    setWindowTitle(u"系统选项设置"_s);
    setFixedSize(392, 244);

    // The playlist's advance timer runs only while a given file may still play to its end.
    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, guardedSlot(context, this, &TForm2::Timer1Timer));
    // The player's error box belongs to this window, like the playlist's other boxes.
    connect(player_, &MediaPlayer::failed, this, [this](const QString &description) {
        guardedIn(context_, this, [&] { mediaFailed(description); });
    });
    centreOnDesktop(this);
}

void TForm2::setVisible(bool visible)
{
    if (visible)
        buildPages();
    QWidget::setVisible(visible);
}

void TForm2::buildPages()
{
    if (pagesBuilt())
        return;
    PageControl1 = new QTabWidget;
    w1 = buildPersonalTab();
    w3 = buildMusicTab();
    about = buildAboutTab();
    presencePage = new PresencePage(context_);
    PageControl1->addTab(w1, u"个性设置"_s);
    PageControl1->addTab(w3, u"背景音乐"_s);
    PageControl1->addTab(about, u"关于本程序"_s);
    PageControl1->addTab(presencePage, u"附近的人"_s);
    for (const PendingPage &pending : pendingPages_)
        if (pending.page)
            PageControl1->insertTab(pending.index, pending.page, pending.title);
    pendingPages_.clear();
    PageControl1->setCurrentIndex(0);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(PageControl1);
    connectHandlers();
}

void TForm2::insertPage(int index, QWidget *page, const QString &title)
{
    if (pagesBuilt())
        PageControl1->insertTab(index, page, title);
    else
        pendingPages_.push_back({index, page, title});
}

QWidget *TForm2::buildPersonalTab()
{
    auto *tab = new QWidget;
    tab->setObjectName(u"w1"_s);
    myname = new QLineEdit(nickname_);
    myname->setValidator(new GbkByteLimitValidator(NicknameBytes, myname));
    autopop = new QCheckBox(u"自动弹出消息模式"_s);
    autopop->setChecked(autoPopup_);
    bcf = new QCheckBox(u"保存聊天记录"_s);
    bcf->setChecked(keepSaveChatLog_);
    keepbcf = new QCheckBox(u"每次启动时保持勾选"_s);
    keepbcf->setChecked(keepSaveChatLog_);
    keepbcf->setToolTip(u"程序每次启动时自动勾选“保存聊天记录”"_s);
    jjmsrxx = new QCheckBox(u"拒绝陌生人消息"_s);
    Button1 = new QPushButton(u"保存修改"_s);
    Image1 = new QLabel;
    Image1->setPixmap(QPixmap(u":/talvino/logo.png"_s));
    Image1->setFixedSize(93, 108);
    Image1->setAlignment(Qt::AlignCenter);
    version = new QLabel(u"TalvinoVer1.2 b3319"_s);
    version->setAlignment(Qt::AlignCenter);

    auto *nameRow = new QHBoxLayout;
    auto *nameLabel = new QLabel(u"姓名："_s);
    nameLabel->setBuddy(myname); // a screen reader names the box by it
    nameRow->addWidget(nameLabel);
    nameRow->addWidget(myname);
    auto *left = new QVBoxLayout;
    left->addLayout(nameRow);
    left->addWidget(autopop);
    left->addWidget(bcf);
    auto *keepRow = new QHBoxLayout;
    keepRow->addSpacing(20); // under bcf's text: it belongs to bcf
    keepRow->addWidget(keepbcf);
    left->addLayout(keepRow);
    left->addWidget(jjmsrxx);
    left->addStretch();
    left->addWidget(Button1, 0, Qt::AlignLeft);
    auto *right = new QVBoxLayout;
    right->addWidget(Image1, 0, Qt::AlignHCenter);
    right->addWidget(version);
    right->addStretch();
    auto *layout = new QHBoxLayout(tab);
    layout->addLayout(left, 1);
    layout->addLayout(right);
    return tab;
}

QWidget *TForm2::buildMusicTab()
{
    auto *tab = new QWidget;
    tab->setObjectName(u"w3"_s);
    mlist = new QListWidget;
    mlist->setSelectionMode(QAbstractItemView::SingleSelection);
    mlist->setFrameShape(QFrame::NoFrame);
    mlist->installEventFilter(this);
    mlist->setAccessibleName(u"播放列表"_s); // no text stands beside it
    // Enter plays the chosen file, as a double-click does.
    new ListKeys(*mlist, guardedSlot(context_, this, &TForm2::mlistDblClick));
    Button4 = new QPushButton(u"浏览添加"_s);
    Button5 = new QPushButton(u"删除"_s);

    auto *buttons = new QVBoxLayout;
    buttons->addWidget(buildPlayerControl());
    buttons->addWidget(Button4);
    buttons->addWidget(Button5);
    buttons->addStretch();
    auto *layout = new QHBoxLayout(tab);
    layout->addWidget(mlist, 1);
    layout->addLayout(buttons);
    return tab;
}

QWidget *TForm2::buildPlayerControl()
{
    mdp = new QWidget;
    // Icons only: what a screen reader says of each is its name.
    auto button = [this](QStyle::StandardPixmap icon, const QString &tip, const QString &name) {
        auto *b = new QToolButton(mdp);
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(tip);
        b->setAccessibleName(name);
        return b;
    };
    mdpPlay = button(QStyle::SP_MediaPlay, u"Play"_s, u"播放"_s);
    mdpPause = button(QStyle::SP_MediaPause, u"Pause"_s, u"暂停"_s);
    mdpStop = button(QStyle::SP_MediaStop, u"Stop"_s, u"停止"_s);
    auto *layout = new QHBoxLayout(mdp);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(mdpPlay);
    layout->addWidget(mdpPause);
    layout->addWidget(mdpStop);
    return mdp;
}

QWidget *TForm2::buildAboutTab()
{
    auto *tab = new QWidget;
    tab->setObjectName(u"about"_s);
    tab->installEventFilter(this);
    Memo1 = new QPlainTextEdit;
    Memo1->setAccessibleName(u"关于本程序"_s); // the page's title: the text is the whole page
    Memo1->setTabChangesFocus(true);
    Memo1->setFixedSize(367, 163);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    hostif = new QLabel;
    hostif->setTextFormat(Qt::PlainText);
    hostif->setWordWrap(true);
    auto *layout = new QVBoxLayout(tab);
    layout->addWidget(Memo1, 0, Qt::AlignHCenter);
    layout->addWidget(hostif);
    layout->addStretch();
    return tab;
}

void TForm2::connectHandlers()
{
    const PeerContext &context = context_;
    connect(Button1, &QPushButton::clicked, this, guardedSlot(context, this, &TForm2::Button1Click));
    connect(autopop, &QCheckBox::toggled, this, guardedSlot(context, this, &TForm2::autopopClick));
    connect(Button4, &QPushButton::clicked, this, guardedSlot(context, this, &TForm2::Button4Click));
    connect(Button5, &QPushButton::clicked, this, guardedSlot(context, this, &TForm2::Button5Click));
    connect(mlist, &QListWidget::itemSelectionChanged, this, guardedSlot(context, this, &TForm2::mlistClick));
    connect(mlist, &QListWidget::itemDoubleClicked, this, guardedSlot(context, this, &TForm2::mlistDblClick));
    connect(myname, &QLineEdit::textChanged, this, &TForm2::nicknameChanged);
    connect(bcf, &QCheckBox::toggled, this, &TForm2::saveChatLogChanged);
    connect(keepbcf, &QCheckBox::toggled, this, guardedSlot(context, this, &TForm2::keepbcfClick));
    connect(mdpPlay, &QToolButton::clicked, this, [this] {
        player_->play();
        if (fileGiven_)
            Timer1->start();
    });
    // Paused or stopped (and rewound), the file cannot reach its end until Play again.
    connect(mdpPause, &QToolButton::clicked, this, [this] {
        player_->pause();
        Timer1->stop();
    });
    connect(mdpStop, &QToolButton::clicked, this, [this] {
        player_->stop();
        Timer1->stop();
    });
    connect(presencePage, &PresencePage::changed, this, &TForm2::presenceSettingsChanged);
    connect(presencePage, &PresencePage::resetIdentityRequested, this,
            [this] { guardedIn(context_, this, [this] { resetIdentity(); }); });
}

// A new identity key, once the person confirmed: every peer will see a key change.
void TForm2::resetIdentity()
{
    if (!main_)
        return;
    const QString question = u"重置身份会生成新的身份密钥。所有对方都会看到你的密钥变了，"
                             u"需要重新接受并核对安全码。确定要重置吗？"_s;
    if (context_.prompts->confirm(question, false) != Prompts::Answer::Yes)
        return;
    QString error;
    if (!main_->security().resetIdentity(&error))
        context_.prompts->error(u"无法保存新的身份密钥："_s + error);
}

QString TForm2::nickname() const { return myname ? myname->text() : nickname_; }

void TForm2::setNickname(const QString &name)
{
    const QString cut = Gbk::truncateToBytes(name, NicknameBytes);
    if (myname) {
        myname->setText(cut);
    } else if (cut != nickname_) {
        nickname_ = cut;
        emit nicknameChanged();
    }
}

QString TForm2::playlistFilter()
{
    return u"*.mp3*.wav*.mid*.avi*.mpg*.mpeg*.dat (*.mp3 *.wav *.mid *.avi *.mpg *.mpeg *.dat)"_s;
}

QString TForm2::hostLabelText(const QString &address, const QString &hostName)
{
    const QString unknown = u"未知"_s;
    return u"本机IP："_s + (address.isEmpty() ? unknown : address) + u"  主机名："_s
        + (hostName.isEmpty() ? unknown : hostName);
}

void TForm2::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        guardedIn(context_, this, [this] { FormShow(); });
}

// Escape closes the window, as a dialog box's: closing only hides it, and keeps every choice.
void TForm2::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
        close();
    else
        QWidget::keyPressEvent(event);
}

bool TForm2::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == about && event->type() == QEvent::Show && !event->spontaneous()) {
        guardedIn(context_, this, [this] { aboutShow(); });
    } else if (watched == mlist && event->type() == QEvent::KeyPress
               && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) {
        guardedIn(context_, this, [this] { Button5Click(); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm2::FormShow()
{
    buildPages();
    trackIndex_ = 0;
    gethostif();
}

void TForm2::Button1Click()
{
    if (nickname().isEmpty())
        return;
    ContactStore(context_.configDir, *context_.prompts).setNickname(nickname());
    context_.prompts->information(u"保存成功！"_s);
}

// The main window opens a new chat-room view when auto-pop-up mode is cleared, and closes
// the current one when it is set again.
void TForm2::autopopClick()
{
    if (!main_)
        return;
    if (autoPopup())
        main_->closeChatRoomView();
    else
        main_->openChatRoomView();
}

bool TForm2::autoPopup() const { return autopop ? autopop->isChecked() : autoPopup_; }

// A change opens or closes the chat-room view, as when the box is clicked.
void TForm2::setAutoPopup(bool on)
{
    if (autopop) {
        autopop->setChecked(on);
    } else if (on != autoPopup_) {
        autoPopup_ = on;
        guardedIn(context_, this, [this] { autopopClick(); });
    }
}

// The save option starts cleared unless keepbcf is stored as ticked; the reject option starts
// cleared, so a window never shown has it off.
bool TForm2::saveChatLog() const { return bcf ? bcf->isChecked() : keepSaveChatLog_; }

// The choice is stored at once; keeping the option ticked ticks it now as well.
void TForm2::keepbcfClick()
{
    const bool keep = keepbcf->isChecked();
    try {
        settingsFile(context_).writeInteger(KeepSaveChatLogSection, KeepSaveChatLogKey, keep ? 1 : 0);
    } catch (...) {
        const QSignalBlocker quiet(keepbcf); // the box shows what is stored
        keepbcf->setChecked(keepSaveChatLog_);
        throw;
    }
    keepSaveChatLog_ = keep;
    if (keep)
        bcf->setChecked(true);
}

PresenceSettings TForm2::presenceSettings() const
{
    return presencePage ? presencePage->settings() : presence_;
}

bool TForm2::rejectStrangers() const { return jjmsrxx && jjmsrxx->isChecked(); }

void TForm2::setMainWindow(MainWindowLinks *main) { main_ = main; }

TForm5 *TForm2::chatRoomView() const { return main_ ? main_->chatRoomView() : nullptr; }

void TForm2::Button4Click()
{
    buildPages();
    const QString path = context_.dialogs->openFileName(playlistFilter());
    if (path.isEmpty())
        return;
    mlist->addItem(path);
    // A file that ended while the list was empty is followed by this one.
    if (fileGiven_ && !Timer1->isActive())
        Timer1->start();
}

void TForm2::Button5Click()
{
    buildPages();
    const int row = selectedRow(mlist);
    if (row < 0)
        return;
    delete mlist->takeItem(row);
    mlist->clearSelection();
}

void TForm2::mlistClick()
{
    buildPages();
    const int row = selectedRow(mlist);
    if (row >= 0)
        mlist->setToolTip(mlist->item(row)->text());
}

void TForm2::mlistDblClick()
{
    buildPages();
    const int row = selectedRow(mlist);
    if (row >= 0)
        playTrack(row);
}

void TForm2::Timer1Timer()
{
    if (!fileGiven_ || !player_->playedToEnd()) {
        if (!fileGiven_)
            Timer1->stop();
        return;
    }
    if (mlist->count() == 0) {
        Timer1->stop(); // until a file is added
        return;
    }
    int next = trackIndex_ + 1;
    if (next > mlist->count() - 1)
        next = 0;
    mlist->setCurrentRow(next);
    playTrack(next);
}

void TForm2::playTrack(int index)
{
    trackIndex_ = index;
    fileGiven_ = true;
    player_->open(mlist->item(index)->text());
    player_->play();
    Timer1->start();
}

void TForm2::mediaFailed(const QString &description)
{
    // The player has dropped the file: the advance timer waits for the next double-click.
    fileGiven_ = false;
    Timer1->stop();
    context_.prompts->error(description);
}

void TForm2::aboutShow()
{
    buildPages();
    QFile readme(context_.shareDir + u"/readme.txt"_s);
    if (!readme.exists()) {
        context_.prompts->information(u"没有找到readme.txt文件！"_s);
        return;
    }
    if (!readme.open(QIODevice::ReadOnly))
        throw Exception(u"Cannot open file \""_s + readme.fileName() + u"\""_s);
    QString text = Gbk::decode(readme.readAll());
    text.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
    Memo1->setPlainText(text);
}

// The addresses a friend can reach this machine at, those of its up, non-loopback IPv4
// interfaces (the host name mostly resolves to a loopback address); then the host name.
void TForm2::gethostif()
{
    buildPages();
    const QString name = QSysInfo::machineHostName();
    const QString addresses = ownAddresses().join(u", "_s);
    hostif->setText(hostLabelText(addresses, name));
    // The look-up answers on this thread's event loop; it dies with the label if that goes first.
    auto *lookup = new HostLookup(name, hostif);
    connect(lookup, &HostLookup::finished, hostif, [this, lookup, name, addresses] {
        if (lookup->address() != 0 && !lookup->canonicalName().isEmpty())
            hostif->setText(hostLabelText(addresses, lookup->canonicalName()));
        lookup->deleteLater();
    });
}

QStringList TForm2::ownAddresses()
{
    QStringList addresses;
    for (const Ipv4Interface &entry : upIpv4Interfaces())
        if (!entry.address.isLoopback())
            addresses << entry.address.toString();
    addresses.removeDuplicates();
    return addresses;
}
