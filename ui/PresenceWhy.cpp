#include "ui/PresenceWhy.h"

#include "core/PresenceService.h"

#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

QString when(const QDateTime &at)
{
    return at.isValid() ? QLocale::system().toString(at.time(), QLocale::LongFormat) : u"从未"_s;
}

const QString Causes = u"常见原因：\n"
                       u"1. 防火墙挡住了端口。Ubuntu/Debian 上可以执行：\n"
                       u"   sudo ufw allow 2928/udp\n"
                       u"   sudo ufw allow 2921/tcp\n"
                       u"2. 无线网络开启了“客户端隔离”（AP 隔离）：同一无线网里的电脑互相收不到广播，"
                       u"请在路由器设置中关闭，或改用有线网络。\n"
                       u"3. 用了 VPN、虚拟机或容器的网卡：这些网卡默认不用，请在“系统设置 → 设置面板 → "
                       u"附近的人”中勾选正确的网卡。\n"
                       u"4. 对方不在同一个子网，或运行的版本不支持“附近的人”：请在“添加好友”中直接输入对方 IP。"_s;

} // namespace

PresenceWhy::PresenceWhy(const PresenceService &service, QWidget *parent)
    : QDialog(parent), service_(service)
{
    setWindowTitle(u"为什么看不到？"_s);
    text = new QPlainTextEdit;
    text->setReadOnly(true);
    text->setAccessibleName(windowTitle()); // the report is the window's whole content
    again = new QPushButton(u"刷新"_s);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text, 1);
    layout->addWidget(again, 0, Qt::AlignRight);
    connect(again, &QPushButton::clicked, this, &PresenceWhy::reread);
    resize(420, 360);
    reread();
}

void PresenceWhy::reread() { text->setPlainText(report(service_)); }

QString PresenceWhy::report(const PresenceService &service)
{
    QString out;
    if (!service.isEnabled())
        out += u"“附近的人”已关闭：不发送也不显示。可在设置面板的“附近的人”中打开。\n\n"_s;
    out += service.endpointBound() ? u"UDP端口2928：已打开，可以接收。\n"_s
                                   : u"UDP端口2928：被其他程序占用，收不到任何消息！\n"_s;
    out += u"发现的人数：%1\n"_s.arg(service.peers().size());
    out += u"因发送过频而丢弃的数据包：%1\n\n"_s.arg(service.rateLimited());
    const QList<PresenceInterface> interfaces = service.interfaces();
    if (interfaces.isEmpty())
        out += u"使用的网卡：没有！（没有可用的网卡，或都被视为虚拟网卡）\n"_s;
    else
        out += u"使用的网卡：\n"_s;
    for (const PresenceInterface &i : interfaces)
        out += u"  %1  地址 %2/%3  广播 %4\n    上次发出招呼：%5  上次收到：%6\n"_s.arg(
            i.name, i.address, QString::number(i.prefixLength), i.broadcast, when(i.lastHelloSent),
            when(i.lastHeard));
    return out + u"\n"_s + Causes;
}
