#include "transfer/SetProgress.h"

#include "transfer/FileWindow.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

QLabel *plainLabel()
{
    auto *label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

SetProgress::SetProgress(QWidget *parent) : QWidget(parent)
{
    bar = new QProgressBar;
    bar->setRange(0, 1000);
    bar->setTextVisible(false);
    files = plainLabel();
    bytes = plainLabel();
    speed = plainLabel();
    left = plainLabel();
    failures = new QListWidget;
    failures->setAccessibleName(u"未能传送的文件"_s);
    failures->setVisible(false);
    failures->setMaximumHeight(failures->fontMetrics().lineSpacing() * 5 + 8);
    retryAll = new QPushButton(u"全部重试"_s);
    retryAll->setVisible(false);
    connect(retryAll, &QPushButton::clicked, this, &SetProgress::retryAllClicked);

    auto *figures = new QGridLayout;
    figures->setContentsMargins(0, 0, 0, 0);
    figures->addWidget(files, 0, 0);
    figures->addWidget(bytes, 0, 1);
    figures->addWidget(speed, 1, 0);
    figures->addWidget(left, 1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(bar);
    layout->addLayout(figures);
    layout->addWidget(failures);
    layout->addWidget(retryAll, 0, Qt::AlignRight);
    clock_.start();
    showFigures(0, 0, 0, 0);
}

QString SetProgress::duration(qint64 seconds)
{
    if (seconds >= 3600)
        return u"%1 小时 %2 分"_s.arg(seconds / 3600).arg(seconds % 3600 / 60);
    if (seconds >= 60)
        return u"%1 分 %2 秒"_s.arg(seconds / 60).arg(seconds % 60);
    return u"%1 秒"_s.arg(seconds);
}

void SetProgress::showFigures(int filesDone, int filesTotal, qint64 bytesDone, qint64 bytesTotal)
{
    bar->setValue(bytesTotal > 0 ? int(std::clamp<qint64>(bytesDone * 1000 / bytesTotal, 0, 1000))
                                 : (filesDone >= filesTotal ? 1000 : 0));
    files->setText(u"文件：%1 / %2"_s.arg(filesDone).arg(filesTotal));
    bytes->setText(FileWindow::readableSize(bytesDone) + u" / "_s + FileWindow::readableSize(bytesTotal));
    const qint64 now = clock_.elapsed();
    samples_.append({now, bytesDone});
    while (samples_.size() > 2 && now - samples_.first().first > SpeedWindowMs)
        samples_.removeFirst();
    const qint64 span = now - samples_.first().first;
    const qint64 moved = bytesDone - samples_.first().second;
    if (span < 500 || moved <= 0) {
        speed->setText(u"速度：—"_s);
        left->setText(u"剩余时间：—"_s);
        return;
    }
    const qint64 perSecond = moved * 1000 / span;
    speed->setText(u"速度："_s + FileWindow::readableSize(perSecond) + u"/s"_s);
    left->setText(u"剩余时间："_s + duration((bytesTotal - bytesDone + perSecond - 1) / std::max<qint64>(1, perSecond)));
}

void SetProgress::stopped()
{
    samples_.clear();
    speed->setText(u"速度：—"_s);
    left->setText(u"剩余时间：—"_s);
}

void SetProgress::setFailures(const QList<QPair<QString, QString>> &list)
{
    failures->clear();
    for (const auto &[path, reason] : list)
        failures->addItem(path + u"：" + reason);
    failures->setVisible(!list.isEmpty());
    retryAll->setVisible(!list.isEmpty());
}
