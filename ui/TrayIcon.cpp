#include "ui/TrayIcon.h"

#include "core/StatusModes.h"
#include "ui/AppTitle.h"
#include "ui/PlainToolTip.h"
#include "ui/TForm1.h"
#include "ui/UnreadCounts.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

using namespace Qt::Literals::StringLiterals;

static void initTrayResources() { Q_INIT_RESOURCE(ui); }

TrayIcon::TrayIcon(TForm1 &main, const UnreadCounts &unread, QObject *parent)
    : QObject(parent), main_(main), unread_(unread)
{
    initTrayResources();
    menu = new QMenu(&main);
    ownMenu_ = menu;
    menu->setFont(main.font());
    showMain = menu->addAction(u"显示主窗口"_s);
    menu->addSeparator();
    menu->addAction(main.N18);
    menu->addAction(main.N19);
    menu->addMenu(main.N11);
    menu->addSeparator();
    quitItem = menu->addAction(u"退出"_s);
    icon = new QSystemTrayIcon(this);
    icon->setContextMenu(menu);
    connect(showMain, &QAction::triggered, this, &TrayIcon::showMainRequested);
    connect(quitItem, &QAction::triggered, this, &TrayIcon::quitRequested);
    connect(icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit showMainRequested();
    });
    // The status items' check marks and the caption are the status; the counts are the badge.
    connect(main.N18, &QAction::changed, this, &TrayIcon::update);
    connect(main.N19, &QAction::changed, this, &TrayIcon::update);
    connect(&main, &QWidget::windowTitleChanged, this, &TrayIcon::update);
    connect(&unread, &UnreadCounts::changed, this, &TrayIcon::update);
    update();
    icon->show();
}

TrayIcon::~TrayIcon() { delete ownMenu_.data(); }

bool TrayIcon::available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

TrayIcon::Look TrayIcon::look() const
{
    if (main_.mainCaption() != StatusModes::noReplyCaption())
        return Look::Busy;
    return main_.statusFlag() == StatusModes::NormalStatus ? Look::Normal : Look::Secure;
}

QString TrayIcon::toolTipText() const
{
    QString text = appTitle() + u"\n"_s + main_.statusModes().statusText();
    if (look() == Look::Busy)
        text += u"\n"_s + main_.mainCaption();
    if (unread_.total() > 0)
        text += u"\n未读消息："_s + QString::number(unread_.total()) + u" 条"_s;
    return text;
}

void TrayIcon::update()
{
    icon->setIcon(draw(look(), unread_.total()));
    icon->setToolTip(plainToolTip(toolTipText()));
}

QIcon TrayIcon::draw(Look look, int unread)
{
    static const QColor dots[] = {QColor(46, 160, 67), QColor(40, 110, 200), QColor(230, 130, 20)};
    const QImage logo(u":/talvino/logo.png"_s);
    const QString badge = UnreadCounts::badge(unread);
    QIcon result;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QImage scaled = logo.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        painter.drawImage((size - scaled.width()) / 2, (size - scaled.height()) / 2, scaled);
        const qreal dot = size * 0.42;
        painter.setPen(QPen(Qt::white, qMax(1.0, size / 16.0)));
        painter.setBrush(dots[int(look)]);
        painter.drawEllipse(QRectF(0.5, size - dot - 0.5, dot, dot));
        if (!badge.isEmpty()) {
            const QRectF circle(size * 0.4, 0.5, size * 0.6 - 0.5, size * 0.6 - 0.5);
            painter.setBrush(QColor(220, 30, 30));
            painter.drawEllipse(circle);
            QFont font;
            font.setBold(true);
            font.setPixelSize(qMax(6, int(circle.height() * (badge.size() > 2 ? 0.42 : 0.62))));
            painter.setFont(font);
            painter.setPen(Qt::white);
            painter.drawText(circle, Qt::AlignCenter, badge);
        }
        painter.end();
        result.addPixmap(pixmap);
    }
    return result;
}
