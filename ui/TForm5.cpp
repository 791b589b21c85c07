#include "ui/TForm5.h"

#include "core/ChatLog.h"
#include "core/PeerContext.h"
#include "ui/GuardedSlot.h"
#include "ui/MainWindowLinks.h"
#include "ui/PaneColors.h"
#include "ui/PaneText.h"
#include "ui/PlainScrollBar.h"
#include "ui/SettingsLinks.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

TForm5::TForm5(MainWindowLinks &main)
    : QWidget(&main.widget(),
              Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                  | Qt::WindowCloseButtonHint),
      main_(main)
{
    setWindowTitle(u"聊天室状态"_s);
    QFont font;
    font.setFamilies({u"MS Sans Serif"_s, u"DejaVu Sans"_s, u"WenQuanYi Micro Hei"_s});
    font.setPixelSize(11);
    setFont(font);

    lts = new QPlainTextEdit;
    lts->setReadOnly(true);
    // Nothing typed here can be undone: an undo history would only keep a second copy of
    // every entry.
    lts->setUndoRedoEnabled(false);
    lts->setAccessibleName(windowTitle()); // the view is this pane: it goes by the window's name
    lts->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    PlainScrollBar::install(lts);
    setPaneColors(lts, QColor(231, 242, 185));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(lts);

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
    bc = new QTimer(this);
    bc->setInterval(5000);
    Timer2 = new QTimer(this);
    Timer2->setInterval(6000);
    Timer2->setSingleShot(true);
    appending = new QTimer(this);
    appending->setInterval(AppendDelay);
    appending->setSingleShot(true);
    const PeerContext &context = main_.context();
    connect(Timer1, &QTimer::timeout, this, guardedSlot(context, this, &TForm5::Timer1Timer));
    connect(bc, &QTimer::timeout, this, guardedSlot(context, this, &TForm5::bcTimer));
    connect(Timer2, &QTimer::timeout, this, guardedSlot(context, this, &TForm5::Timer2Timer));
    connect(appending, &QTimer::timeout, this, guardedSlot(context, this, &TForm5::save));

    setMinimumWidth(MinWidth);
    setMaximumWidth(MaxWidth);
    resize(MinWidth, 374);
    showing_ = new QTimer(this);
    showing_->setSingleShot(true);
    connect(showing_, &QTimer::timeout, this, [this] { postShowing(); });
    Timer1->start();
    bc->start();
    // A program that quits with the view open (closing it refused, or no window closed) saves
    // what is still unsaved; after closing, what still waits for appending.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        guardedIn(main_.context(), this, [this] { bc->isActive() ? bcTimer() : saveWaiting(); });
    });
}

void TForm5::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        guardedIn(main_.context(), this, [this] { FormShow(); });
}

void TForm5::closeEvent(QCloseEvent *event)
{
    guardedIn(main_.context(), this, [this] { FormClose(); });
    QWidget::closeEvent(event);
}

void TForm5::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && waiting_)
        postShowing();
}

void TForm5::appendEntry(const QString &entry)
{
    const QString shown = PaneText::shown(entry);
    // Appending to an empty pane adds no line break before the text, nor does an empty text
    // appended to it leave one: joined entries keep to that.
    if (waiting_ && !(waiting_->isEmpty() && lts->document()->isEmpty()))
        *waiting_ += u'\n' + shown;
    else
        waiting_ = shown;
    postShowing();
    // The entry as transcript() will give it: its lines each ended by CR LF.
    if (!(transcriptEmpty_ && shown.isEmpty())) {
        unsaved_ += PaneText::givenBack(shown).replace(u'\n', u"\r\n"_s) + u"\r\n"_s;
        transcriptEmpty_ = false;
    }
    postSave();
}

void TForm5::postSave()
{
    // Not restarted by later entries: the first one waits no longer than AppendDelay.
    if (!appending->isActive())
        appending->start();
}

void TForm5::saveWaiting()
{
    if (!appending->isActive())
        return;
    appending->stop();
    save();
}

void TForm5::postShowing()
{
    if (showingPosted_ || showing_->isActive() || !canBeSeen())
        return;
    const qint64 sinceShown = shown_.isValid() ? shown_.elapsed() : ShowInterval;
    if (sinceShown < ShowInterval) {
        showing_->start(int(ShowInterval - sinceShown));
        return;
    }
    showingPosted_ = true;
    // Queued: it runs once the datagrams of this wake-up have all been dispatched.
    QMetaObject::invokeMethod(
        this,
        [this] {
            showingPosted_ = false;
            if (canBeSeen())
                showWaitingEntries();
        },
        Qt::QueuedConnection);
}

void TForm5::showWaitingEntries()
{
    if (!waiting_)
        return;
    const QString text = std::move(*waiting_);
    waiting_.reset();
    lts->appendPlainText(text);
    shown_.start();
}

QString TForm5::transcript()
{
    showWaitingEntries();
    const QString text = lts->toPlainText();
    if (text.isEmpty())
        return {};
    return text.split(u'\n').join(u"\r\n"_s) + u"\r\n"_s;
}

QString TForm5::transcriptFileName() const { return ChatLog::transcriptFileName(main_.context().dataDir); }

void TForm5::FormShow()
{
    Timer1Timer();
    if (waiting_)
        postShowing();
}

// Glued to the main window's right edge and as tall as it; only the width is the user's.
void TForm5::Timer1Timer()
{
    const QWidget &main = main_.widget();
    const QRect frame = main.frameGeometry();
    move(frame.x() + frame.width(), frame.y());
    resize(width(), main.height());
}

void TForm5::bcTimer() { save(); }

void TForm5::save()
{
    const SettingsLinks *settings = main_.settings();
    if (!settings || !settings->saveChatLog()) {
        // Not kept meanwhile: the next save writes the whole transcript.
        if (!unsaved_.isEmpty())
            fileBehind_ = true;
        unsaved_.clear();
        return;
    }
    try {
        if (!fileStarted_ || fileBehind_) {
            ChatLog::write(transcriptFileName(), fileBehind_ ? transcript() : unsaved_);
            fileStarted_ = true;
            fileBehind_ = false;
        } else if (!unsaved_.isEmpty()) {
            ChatLog::append(transcriptFileName(), unsaved_);
        }
        unsaved_.clear();
        saveFailing_ = false;
    } catch (const Exception &) {
        // The next save writes the whole transcript, so that nothing piles up meanwhile.
        fileBehind_ = true;
        unsaved_.clear();
        if (saveFailing_)
            return;
        saveFailing_ = true;
        throw;
    }
}

void TForm5::FormClose()
{
    if (SettingsLinks *settings = main_.settings())
        settings->setAutoPopup(true);
    main_.setChatMode(false);
    Timer2->start();
    // Hidden now: nothing to dock. The last save takes in what came since the previous one.
    Timer1->stop();
    if (bc->isActive()) {
        bc->stop();
        bcTimer();
    }
}

void TForm5::Timer2Timer() { deleteLater(); }
