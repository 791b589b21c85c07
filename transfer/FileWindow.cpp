#include "transfer/FileWindow.h"

#include "core/Packet.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

FileWindow::FileWindow(const FileWindowLinks &links, const QString &title)
    : QWidget(links.owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                               | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      links_(links)
{
    setWindowTitle(title);
    zt = new QStatusBar;
    zt->setSizeGripEnabled(false);
    ztPanel0 = new QLabel;
    ztPanel0->setFixedWidth(250);
    ztPanel1 = new QLabel;
    ztPanel1->setFixedWidth(50);
    zt->addWidget(ztPanel0);
    zt->addWidget(ztPanel1);
    Timer1 = new QTimer(this);
    Timer1->setSingleShot(true);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &FileWindow::Timer1Timer);
}

QString FileWindow::progressText(const QString &label, qint64 position, qint64 maximum)
{
    return label + QString::number(position) + u"Byte  共："_s + QString::number(maximum) + u"Byte"_s;
}

int FileWindow::barValue(qint64 count, int limit)
{
    return int(std::clamp<qint64>(count, 0, limit));
}

void FileWindow::arrange(QProgressBar *bar, QLineEdit *edit, QAbstractButton *left, QAbstractButton *right)
{
    bar->setTextVisible(false);
    bar->setFixedHeight(16);
    auto *row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(left);
    row->addWidget(right);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 0);
    layout->setSpacing(4);
    layout->addWidget(bar);
    layout->addLayout(row);
    layout->addStretch();
    layout->addWidget(zt);
    setFixedSize(392, 90);
    if (links_.owner)
        move(links_.owner->frameGeometry().center() - rect().center());
}

void FileWindow::connectButton(QAbstractButton *button, std::function<void()> slot)
{
    connect(button, &QAbstractButton::clicked, this, std::move(slot));
}

void FileWindow::send(const QString &ip, const QByteArray &packet)
{
    Packet::send(links_.lwudp, ip, packet);
}

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
