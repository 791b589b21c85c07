#include "ui/TForm5.h"

#include "core/ChatLog.h"
#include "core/PeerContext.h"
#include "ui/GuardedSlot.h"
#include "ui/PaneColors.h"
#include "ui/PaneText.h"
#include "ui/PlainScrollBar.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

TForm5::TForm5(TForm1 &main, TForm2 &settings)
    : QWidget(&main, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                         | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      main_(main), settings_(&settings)
{
    setWindowTitle(u"聊天室状态"_s);
    QFont font;
    font.setFamilies({u"MS Sans Serif"_s, u"DejaVu Sans"_s, u"WenQuanYi Micro Hei"_s});
    font.setPixelSize(11);
    setFont(font);

    lts = new QPlainTextEdit;
    lts->setReadOnly(true);
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
    const PeerContext &context = main_.context();
    connect(Timer1, &QTimer::timeout, this, guardedSlot(context, this, &TForm5::Timer1Timer));
    connect(bc, &QTimer::timeout, this, guardedSlot(context, this, &TForm5::bcTimer));
    connect(Timer2, &QTimer::timeout, this, guardedSlot(context, this, &TForm5::Timer2Timer));

    setMinimumWidth(MinWidth);
    setMaximumWidth(MaxWidth);
    resize(MinWidth, 374);
    Timer1->start();
    bc->start();
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

void TForm5::appendEntry(const QString &entry) { lts->appendPlainText(PaneText::shown(entry)); }

QString TForm5::transcript() const
{
    const QString text = lts->toPlainText();
    if (text.isEmpty())
        return {};
    return text.split(u'\n').join(u"\r\n"_s) + u"\r\n"_s;
}

QString TForm5::transcriptFileName() const { return ChatLog::transcriptFileName(main_.context().dataDir); }

void TForm5::FormShow() { Timer1Timer(); }

// Glued to the main window's right edge and as tall as it; only the width is the user's.
void TForm5::Timer1Timer()
{
    const QRect frame = main_.frameGeometry();
    move(frame.x() + frame.width(), frame.y());
    resize(width(), main_.height());
}

void TForm5::bcTimer()
{
    if (!settings_ || !settings_->bcf->isChecked())
        return;
    try {
        ChatLog::write(transcriptFileName(), transcript());
        saveFailing_ = false;
    } catch (const Exception &) {
        if (saveFailing_)
            return;
        saveFailing_ = true;
        throw;
    }
}

void TForm5::FormClose()
{
    if (settings_)
        settings_->autopop->setChecked(true);
    main_.N7->setData(0);
    main_.N7->setText(u"聊天模式"_s);
    Timer2->start();
}

void TForm5::Timer2Timer() { deleteLater(); }
