#include "transfer/FileWindow.h"

#include "core/Packet.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <QLocale>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

FileWindow::FileWindow(const FileWindowLinks &links, const QString &title)
    : QWidget(links.owner,
              Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowCloseButtonHint),
      links_(links)
{
    setWindowTitle(title);
    zt = new QStatusBar;
    zt->setSizeGripEnabled(false);
    // Panel 0 holds the longest progress text whole; panel 1 takes the rest of the width.
    ztPanel0 = new QLabel;
    ztPanel0->setTextFormat(Qt::PlainText);
    const QFontMetrics metrics = ztPanel0->fontMetrics();
    // The longest texts: a progress text of 2 GiB - 1 bytes, and a sender with its buddy entry.
    const QString progress = progressText(u"已接收："_s, MaxStreamBytes, MaxStreamBytes);
    const QString sender = u"From:255.255.255.255 [9999]"_s + QString(10, u'中');
    const int longest = std::max(metrics.horizontalAdvance(progress), metrics.horizontalAdvance(sender));
    ztPanel0->setMinimumWidth(std::max(250, longest + PanelPadding));
    ztPanel1 = new QLabel;
    ztPanel1->setTextFormat(Qt::PlainText);
    ztPanel1->setMinimumWidth(std::max(50, metrics.horizontalAdvance(u"正在传送数据"_s) + PanelPadding));
    zt->addWidget(ztPanel0);
    zt->addWidget(ztPanel1, 1);
    Timer1 = new QTimer(this);
    Timer1->setSingleShot(true);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &FileWindow::Timer1Timer);
}

QString FileWindow::progressText(const QString &label, qint64 position, qint64 maximum)
{
    return label + QString::number(position) + u"Byte  共："_s + QString::number(maximum) + u"Byte"_s;
}

int FileWindow::barValue(qint64 count, int limit) { return int(std::clamp<qint64>(count, 0, limit)); }

void FileWindow::arrange(QProgressBar *bar, QWidget *edit, QAbstractButton *left, QAbstractButton *right)
{
    bar->setFixedHeight(18);
    showCount(bar, 0);
    auto *row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(left, 0, Qt::AlignTop);
    row->addWidget(right, 0, Qt::AlignTop);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 0);
    layout->setSpacing(4);
    layout->addWidget(bar);
    layout->addLayout(row);
    layout->addStretch();
    layout->addWidget(zt);
    // At least the window's first size, wider or taller where its texts need the room.
    const QSize needed = layout->sizeHint();
    setFixedSize(std::max(392, needed.width()), std::max(90, needed.height()));
    if (links_.owner)
        move(links_.owner->frameGeometry().center() - rect().center());
}

QString FileWindow::readableSize(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

void FileWindow::showCount(QProgressBar *bar, qint64 bytes)
{
    bar->setFormat(readableSize(bytes) + u" / "_s + readableSize(bar->maximum()));
    bar->setTextVisible(true);
}

void FileWindow::connectButton(QAbstractButton *button, std::function<void()> slot)
{
    connect(button, &QAbstractButton::clicked, this, std::move(slot));
}

void FileWindow::send(const QString &ip, const QByteArray &packet) { Packet::send(links_.lwudp, ip, packet); }

void FileWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        links_.tag = 1;
}

void FileWindow::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (closed_)
        return;
    closed_ = true;
    links_.tag = 0;
    handle([this] { FormClose(); });
    Timer1->start();
    emit closed();
}

QString FileWindow::discardQuestion() { return u"输入的内容还没有发送，关闭窗口吗？"_s; }

void FileWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Escape || event->modifiers() != Qt::NoModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (onEscape()) {
    case EscapeAction::Close: close(); break;
    case EscapeAction::Ask:
        handle([this] {
            if (prompts().confirm(discardQuestion(), false) == Prompts::Answer::Yes)
                close();
        });
        break;
    case EscapeAction::Keep: break;
    }
}

void FileWindow::Timer1Timer()
{
    releaseDue_ = true;
    releaseWhenIdle();
}

void FileWindow::releaseWhenIdle()
{
    if (releaseDue_ && busy_ == 0) {
        releaseDue_ = false;
        deleteLater();
    }
}
