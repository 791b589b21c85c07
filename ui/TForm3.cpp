#include "ui/TForm3.h"

#include "core/ChatLog.h"
#include "core/FileWindows.h"
#include "core/Deliveries.h"
#include "core/LocalTime.h"
#include "core/Packet.h"
#include "core/PeerSecurity.h"
#include "core/PeerContext.h"
#include "core/Prompts.h"
#include "net/Exceptions.h"
#include "ui/ArrowlessScrollStyle.h"
#include "ui/ColorBox.h"
#include "ui/Dialogs.h"
#include "ui/FileDropTarget.h"
#include "ui/GbkTextLimit.h"
#include "ui/GuardedSlot.h"
#include "ui/HistoryKeeper.h"
#include "ui/MainWindowLinks.h"
#include "ui/PaneText.h"
#include "ui/PlainScrollBar.h"
#include "ui/DeliveryList.h"
#include "ui/SecurityStrip.h"
#include "ui/SettingsLinks.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString SendHint = u"Ctrl+Enter 发送消息"_s;
// Asked when Escape would drop a message typed and not sent.
const QString DiscardQuestion = u"消息还没有发送，关闭窗口并放弃这条消息吗？"_s;
// The title of a window that shows a peer's automatic reply.
const QString AutoReplyTitle = u"对方自动回复"_s;
// A colour box shows its swatch only.
constexpr int ColorBoxWidth = 44;

QPushButton *button75x25(const QString &caption, const QString &hint)
{
    auto *button = new QPushButton(caption);
    button->setFixedSize(75, 25);
    button->setToolTip(hint);
    return button;
}

// One of the toolbar's style buttons: up at first, down while its style is on. Its letter
// stands for the style, which names it to a screen reader and in its tooltip.
QToolButton *styleButton(const QString &letter, const QString &style, void (QFont::*setStyle)(bool))
{
    auto *button = new QToolButton;
    button->setAccessibleName(style);
    button->setToolTip(style);
    QFont font = button->font();
    (font.*setStyle)(true);
    button->setFont(font);
    button->setText(letter);
    button->setCheckable(true);
    button->setAutoRaise(true);
    return button;
}

// A read-only field on the window's grey instead of the editable white.
void greyOut(QWidget *field)
{
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    field->setPalette(palette);
}

QString stamp(const QDateTime &at)
{
    return LocalTime::shortDate(at.date()) + u" "_s + LocalTime::longTime(at.time());
}

} // namespace

TForm3::TForm3(MainWindowLinks &main)
    : QWidget(&main.widget(),
              Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                  | Qt::WindowCloseButtonHint),
      main_(main)
{
    setWindowTitle(u"消息窗口"_s);
    FontDialog1.setFamilies({u"MS Sans Serif"_s, u"DejaVu Sans"_s});
    FontDialog1.setPixelSize(11);

    mess = new QPlainTextEdit;
    mess->setReadOnly(true);
    // Reached by Tab (not by a click, which leaves the input its focus), so that the message
    // can be read and copied from the keyboard.
    mess->setFocusPolicy(Qt::TabFocus);
    mess->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    mess->setAccessibleName(u"消息内容"_s);
    mess->setMinimumHeight(80);
    mess->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    PlainScrollBar::install(mess); // the pane takes the display style's colours
    inpu = new QPlainTextEdit;
    inpu->setAccessibleName(u"输入消息"_s);
    inpu->setTabChangesFocus(true); // Tab goes on to the buttons; a message has no tabs
    inpu->setFixedHeight(45);
    inpu->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Two lines high: arrow buttons would leave the thumb no room.
    inpu->verticalScrollBar()->setStyle(new ArrowlessScrollStyle(this));
    inpu->setToolTip(SendHint);
    limit_ = new GbkTextLimit(inpu, MessageBytes);
    connect(limit_, &GbkTextLimit::clipped, this, &TForm3::tellClipped);

    // No stretch: the display pane takes whatever height the window has beyond its controls,
    // so that no empty band opens under the buttons or above the history.
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(3);
    layout->addWidget(buildTopStrip());
    layout->addWidget(buildToolBar());
    security = new SecurityStrip(main_.security());
    layout->addWidget(security->warning);
    layout->addWidget(mess, 1);
    sentList = new DeliveryList(main_.deliveries());
    layout->addWidget(sentList);
    layout->addWidget(inpu);
    layout->addWidget(buildButtonRow());
    layout->addWidget(buildHistoryPanel());
    inpu->setFocus();

    Timer1 = new QTimer(this);
    Timer1->setInterval(3000);
    Timer1->setSingleShot(true);
    connectHandlers();
    setFixedSize(392, HistoryHiddenHeight - decorationHeight());
    move(266, 68);
}

QWidget *TForm3::buildTopStrip()
{
    auto *strip = new QWidget;
    strip->setFixedHeight(32);
    ip = new QLineEdit;
    ip->setReadOnly(true);
    ip->setFocusPolicy(Qt::TabFocus); // as the message pane: readable and copied by keyboard
    greyOut(ip);
    nc = new QLineEdit;
    nc->setReadOnly(true);
    // The labels name their fields for a screen reader.
    auto *ipLabel = new QLabel(u"远程信息："_s);
    ipLabel->setBuddy(ip);
    auto *ncLabel = new QLabel(u"昵称："_s);
    ncLabel->setBuddy(nc);
    auto *row = new QHBoxLayout(strip);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(ipLabel);
    row->addWidget(ip, 1);
    row->addWidget(ncLabel);
    row->addWidget(nc, 1);
    return strip;
}

QToolBar *TForm3::buildToolBar()
{
    ToolBar1 = new QToolBar;
    ToolBar1->setFixedHeight(25);
    ToolBar1->setMovable(false);
    zt = new QComboBox;
    zt->setEditable(true);
    // Room for the longest name of the first font, "Microsoft Sans Serif", and the arrow.
    zt->setFixedWidth(std::max(128, zt->fontMetrics().horizontalAdvance(u"Microsoft Sans Serif"_s) + 32));
    zts = new ColorBox;
    zts->setFixedWidth(ColorBoxWidth);
    zh = new QComboBox;
    zh->setEditable(true);
    for (int size = 9; size <= 30; ++size)
        zh->addItem(QString::number(size));
    zh->lineEdit()->setMaxLength(2);
    zh->setEditText(u"12"_s);
    zh->setFixedWidth(44);
    b = styleButton(u"B"_s, u"粗体"_s, &QFont::setBold);
    i = styleButton(u"I"_s, u"斜体"_s, &QFont::setItalic);
    u = styleButton(u"U"_s, u"下划线"_s, &QFont::setUnderline);
    bgs = new ColorBox;
    bgs->setFixedWidth(ColorBoxWidth);
    // What each box sets, in its tooltip: no text stands beside them (the colour boxes show a
    // swatch only). A screen reader takes it as the box's description, since on this desktop a
    // box's name is its value; the typing fields of the two editable boxes are named by it.
    for (auto [box, name] : {std::pair<QComboBox *, QString>{zt, u"字体"_s},
                             {zts, u"文字颜色"_s},
                             {zh, u"字号"_s},
                             {bgs, u"背景颜色"_s}}) {
        box->setAccessibleName(name);
        box->setToolTip(name);
        if (box->lineEdit())
            box->lineEdit()->setAccessibleName(name);
    }
    for (QWidget *control : std::initializer_list<QWidget *>{zt, zts, zh, b, i, u, bgs})
        ToolBar1->addWidget(control);
    return ToolBar1;
}

QWidget *TForm3::buildButtonRow()
{
    auto *row = new QWidget;
    fs = button75x25(u"发送信息"_s, SendHint);
    Button1 = button75x25(u"聊天记录"_s, u"是否需要保存聊天记录，可以在系统选项中设置。"_s);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(security);
    layout->addStretch();
    layout->addWidget(fs);
    layout->addWidget(Button1);
    return row;
}

QWidget *TForm3::buildHistoryPanel()
{
    Panel2 = new QWidget;
    Panel2->setFixedHeight(0);
    ltjl = new QPlainTextEdit;
    ltjl->setReadOnly(true);
    ltjl->setAccessibleName(Button1->text()); // the button that shows it: "聊天记录"
    ltjl->setVisible(false);                  // until shown: Tab does not reach it meanwhile
    ltjl->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    PlainScrollBar::install(ltjl);
    greyOut(ltjl);
    auto *layout = new QVBoxLayout(Panel2);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ltjl);
    return Panel2;
}

void TForm3::connectHandlers()
{
    const PeerContext &context = main_.context();
    connect(fs, &QPushButton::clicked, this, guardedSlot(context, this, &TForm3::fsClick));
    connect(Button1, &QPushButton::clicked, this, guardedSlot(context, this, &TForm3::Button1Click));
    connect(Timer1, &QTimer::timeout, this, guardedSlot(context, this, &TForm3::Timer1Timer));
    // Only the user's edits count: texts the window sets itself open no dialog.
    connect(zt->lineEdit(), &QLineEdit::textEdited, this, guardedSlot(context, this, &TForm3::ztChange));
    connect(zts, &QComboBox::activated, this, guardedSlot(context, this, &TForm3::ztsChange));
    connect(zh, &QComboBox::textActivated, this, guardedSlot(context, this, &TForm3::zhChange));
    connect(zh->lineEdit(), &QLineEdit::textEdited, this, guardedSlot(context, this, &TForm3::zhChange));
    connect(b, &QToolButton::clicked, this, guardedSlot(context, this, &TForm3::bClick));
    connect(i, &QToolButton::clicked, this, guardedSlot(context, this, &TForm3::iClick));
    connect(u, &QToolButton::clicked, this, guardedSlot(context, this, &TForm3::uClick));
    connect(bgs, &QComboBox::activated, this, guardedSlot(context, this, &TForm3::bgsChange));
    inpu->installEventFilter(this);
    // Files and folders dropped anywhere on the window go to its peer.
    auto *drops = new FileDropTarget(
        this, [this](QWidget *, const QPoint &) { return main_.fileWindows() != nullptr; },
        [this](QWidget *, const QPoint &, const QStringList &paths) {
            guardedIn(main_.context(), this, [&] { main_.fileWindows()->offerPaths(ip->text(), paths); });
        });
    for (QWidget *target : {static_cast<QWidget *>(this), mess->viewport(), inpu->viewport(), ltjl->viewport()})
        drops->watch(target);
    zh->installEventFilter(this);
    zh->lineEdit()->installEventFilter(this);
    // The history's search, with this conversation's messages only.
    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this,
            [this] { guardedIn(main_.context(), this, [this] { main_.openHistorySearch(nc->text()); }); });
}

void TForm3::guard(void (TForm3::*handler)()) { guardedSlot(main_.context(), this, handler)(); }

void TForm3::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        guard(&TForm3::FormShow);
}

void TForm3::closeEvent(QCloseEvent *event)
{
    // A log that cannot be written keeps the window open, with its history.
    if (guardedIn(main_.context(), this, [this] { FormClose(); }))
        event->accept();
    else
        event->ignore();
}

// Escape closes the window, as a dialog box's; a message typed and not sent is asked about
// first, and stays when the answer is No.
void TForm3::keyPressEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Escape || event->modifiers() != Qt::NoModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    const bool unsent = inpu->isEnabled() && !inpu->toPlainText().isEmpty();
    guardedIn(main_.context(), this, [this, unsent] {
        if (!unsent || main_.context().prompts->confirm(DiscardQuestion, false) == Prompts::Answer::Yes)
            close();
    });
}

bool TForm3::eventFilter(QObject *watched, QEvent *event)
{
    const bool keyPress = event->type() == QEvent::KeyPress;
    if (watched == inpu && keyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        guardedIn(main_.context(), this, [this, key] { inpuKeyDown(key); });
    } else if (watched == inpu && event->type() == QEvent::KeyRelease) {
        guard(&TForm3::inpuKeyUp);
    } else if ((watched == zh || watched == zh->lineEdit()) && keyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key != Qt::Key_Tab && key != Qt::Key_Backtab) {
            guard(&TForm3::zhKeyDown);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

SettingsLinks *TForm3::settings() const { return main_.settings(); }

bool TForm3::saveChatLog() const { return settings() && settings()->saveChatLog(); }

QString TForm3::chatLogPath() const { return ChatLog::fileName(main_.context().dataDir, nc->text()); }

QString TForm3::historyEntry(const QString &name, const QDateTime &at, const QString &text)
{
    return name + u":["_s + stamp(at) + u"]\r"_s + text + u"\r"_s;
}

QString TForm3::chatRoomLine(const QString &peer, const QDateTime &at, const QString &text)
{
    return u"你对"_s + peer + u"说:["_s + stamp(at) + u"]\r\n"_s + text + u"\r\n"_s + QString(51, u'-');
}

void TForm3::appendHistory(const QString &name, const QDateTime &at, const QString &text,
                           MessageDirection direction)
{
    const QString entry = historyEntry(name, at, text);
    // A new last line: after a line break if the text does not end with one. The log file
    // makes the same choice on its own last bytes (ChatLog::append).
    if (!history_.isEmpty() && !history_.endsWith(u"\r\n"_s))
        history_ += u"\r\n"_s;
    history_ += entry + u"\r\n"_s;
    PaneText::set(ltjl, history_);
    if (!saveChatLog())
        return;
    // Stored first: a log that cannot be written now is tried again later, the database not.
    main_.history().add({HistoryKeeper::buddyOf(nc->text()), ip->text(), at, direction, text});
    unlogged_ += entry + u"\r\n"_s;
    writeLog();
}

void TForm3::writeLog()
{
    ChatLog::append(chatLogPath(), unlogged_);
    unlogged_.clear();
}

void TForm3::FormShow()
{
    const DisplayStyle style = settings() ? settings()->displayStyle() : DisplayStyle::initial();
    mess->setFont(style.font);
    setMessColor(QPalette::Text, style.color);
    setMessColor(QPalette::Base, style.background);
    showStyle(style);
    // The peer's address is set by now: its limit counts the bytes the text will go in.
    limit_->setCharset(main_.textCharset(ip->text()));
    security->setPeer(ip->text(), nc->text());
    sentList->setPeer(ip->text());
    if (inpu->isEnabled())
        inpu->setFocus();
    if (!saveChatLog())
        return;
    const QString path = chatLogPath();
    if (QFile::exists(path)) {
        history_ = ChatLog::read(path);
        PaneText::set(ltjl, history_);
    }
    const MessageDirection direction = windowTitle() == AutoReplyTitle ? MessageDirection::AutoReply
                                                                       : MessageDirection::Received;
    if (!mess->toPlainText().isEmpty())
        appendHistory(nc->text(), QDateTime::currentDateTime(), PaneText::get(mess), direction);
    else
        writeLog(); // a missing log is created, empty
}

bool TForm3::appendReceived(const QString &text, bool autoReply)
{
    if (!isVisible() || windowTitle() == u"发送消息"_s)
        return false;
    mess->appendPlainText(PaneText::shown(text));
    if (saveChatLog() && !text.isEmpty()) {
        const QDateTime now = QDateTime::currentDateTime();
        const MessageDirection direction = autoReply ? MessageDirection::AutoReply
                                                     : MessageDirection::Received;
        guardedIn(main_.context(), this, [&] { appendHistory(nc->text(), now, text, direction); });
    }
    return true;
}

void TForm3::fsClick()
{
    if (SettingsLinks *s = settings())
        s->setDisplayStyle(messStyle());
    setHistoryShown(false);
    const QString text = PaneText::get(inpu);
    if (text.isEmpty()) {
        main_.context().prompts->information(u"不能发送空消息！"_s);
        return;
    }
    if (main_.security().linkTo(ip->text()) == PeerSecurity::Link::KeyChanged) {
        main_.context().prompts->information(u"对方的身份密钥变了，消息没有发出。请先点“核对…”对照安全码，确认后接受新密钥。"_s);
        return;
    }
    const QByteArray packet = Packet::message(text, main_.textCharset(ip->text()));
    const QDateTime now = QDateTime::currentDateTime();
    if (!main_.autoPopup())
        main_.appendChatRoomEntry(chatRoomLine(nc->text(), now, text));
    main_.deliveries().send(ip->text(), packet);
    // Logged once sent: a log that cannot be written is reported and keeps the window open,
    // and closing it tries again (FormClose).
    if (saveChatLog())
        appendHistory(main_.ownNickname(), now, text, MessageDirection::Sent);
    close();
}

// Every entry is in the log by now, unless writing it failed: then it is tried once more,
// and a log that still cannot be written keeps the window open, with its history.
void TForm3::FormClose()
{
    if (saveChatLog() && !unlogged_.isEmpty())
        writeLog();
    Timer1->start();
}

void TForm3::Timer1Timer() { deleteLater(); }

void TForm3::Button1Click() { setHistoryShown(!historyShown_); }

void TForm3::setHistoryShown(bool shown)
{
    historyShown_ = shown;
    ltjl->setVisible(shown);
    Panel2->setFixedHeight(shown ? HistoryPanelHeight : 0);
    setFixedHeight((shown ? HistoryShownHeight : HistoryHiddenHeight) - decorationHeight());
}

void TForm3::inpuKeyDown(int key)
{
    setWindowTitle(u"发送消息"_s);
    const bool ctrl = key == Qt::Key_Control;
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (ctrl)
        ctrlSeen_ = true;
    if (enter)
        enterSeen_ = true;
    if (!ctrl && !enter)
        ctrlSeen_ = enterSeen_ = false;
    if (ctrlSeen_ && enterSeen_) {
        ctrlSeen_ = enterSeen_ = false;
        fsClick();
    }
}

// Keys that change nothing (Ctrl, Shift, the Alt of Alt+Tab) leave the shown message alone.
void TForm3::inpuKeyUp()
{
    const QString text = inpu->toPlainText();
    if (text == mirrored_)
        return;
    mirrored_ = text;
    mess->setPlainText(text);
}

void TForm3::ztChange()
{
    bool accepted = false;
    const QFont chosen = main_.context().fontDialog->chooseFont(FontDialog1, &accepted);
    if (accepted)
        FontDialog1 = chosen;
    FontDialog1Close();
    showFontName(FontDialog1);
}

void TForm3::FontDialog1Close()
{
    mess->setFont(FontDialog1);
    setMessColor(QPalette::Text, QGuiApplication::palette().color(QPalette::WindowText));
}

// The name from its start, however narrow the box.
void TForm3::showFontName(const QFont &font)
{
    zt->setEditText(font.family());
    zt->lineEdit()->setCursorPosition(0);
}

// The toolbar shows the style the display pane starts with.
void TForm3::showStyle(const DisplayStyle &style)
{
    showFontName(style.font);
    if (style.font.pointSize() > 0)
        zh->setEditText(QString::number(style.font.pointSize()));
    b->setChecked(style.font.bold());
    i->setChecked(style.font.italic());
    u->setChecked(style.font.underline());
    for (auto [box, color] : {std::pair{zts, style.color}, std::pair{bgs, style.background}}) {
        const int index = box->findData(color);
        if (index >= 0)
            box->setCurrentIndex(index);
    }
}

// The first cut of a paste or a drop is told beside the box; later ones only in its tooltip.
void TForm3::tellClipped()
{
    if (clipTold_)
        return;
    clipTold_ = true;
    const QString notice = u"消息最长%1字节，超出的部分已截去。"_s.arg(MessageBytes);
    inpu->setToolTip(SendHint + u"\n"_s + notice);
    QToolTip::showText(inpu->mapToGlobal(QPoint(0, inpu->height())), notice, inpu);
}

int TForm3::decorationHeight() const
{
    const QWidget &main = main_.widget();
    return main.isVisible() ? main.frameGeometry().height() - main.height() : 0;
}

void TForm3::ztsChange() { setMessColor(QPalette::Text, zts->color()); }

void TForm3::zhChange()
{
    const QString text = zh->currentText();
    if (text.isEmpty())
        return;
    bool ok = false;
    const int size = text.toInt(&ok);
    if (!ok)
        throw EConvertError(text);
    if (size <= 0)
        return; // a font has no size 0: keep the size it has
    QFont font = mess->font();
    font.setPointSize(size);
    mess->setFont(font);
}

void TForm3::zhKeyDown() { zh->setEditText(u"12"_s); }

void TForm3::bClick()
{
    QFont font = mess->font();
    font.setBold(b->isChecked());
    mess->setFont(font);
}

void TForm3::iClick()
{
    QFont font = mess->font();
    font.setItalic(i->isChecked());
    mess->setFont(font);
}

void TForm3::uClick()
{
    QFont font = mess->font();
    font.setUnderline(u->isChecked());
    mess->setFont(font);
}

void TForm3::bgsChange() { setMessColor(QPalette::Base, bgs->color()); }

void TForm3::setMessColor(QPalette::ColorRole role, const QColor &color)
{
    QPalette palette = mess->palette();
    palette.setColor(role, color);
    mess->setPalette(palette);
}

DisplayStyle TForm3::messStyle() const
{
    return DisplayStyle{mess->font(), mess->palette().color(QPalette::Text),
                        mess->palette().color(QPalette::Base)};
}
