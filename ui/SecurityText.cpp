#include "ui/SecurityText.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

using namespace Qt::Literals::StringLiterals;

QString SecurityText::shortState(PeerSecurity::Link link, bool verified)
{
    switch (link) {
    case PeerSecurity::Link::Plain: return u"未加密"_s;
    case PeerSecurity::Link::KeyChanged: return u"密钥已变"_s;
    case PeerSecurity::Link::Sealed: return verified ? u"已加密 · 已核对"_s : u"已加密"_s;
    }
    return {};
}

QString SecurityText::keyChanged()
{
    return u"注意：对方的身份密钥变了。可能是对方重装了系统或重置了身份，也可能有人在冒充对方。"
           u"核对新的安全码之前，消息不会发出，对方的文件也不接收。"_s;
}

QString SecurityText::state(PeerSecurity::Link link, bool pinned, bool verified, const QStringList &sameKeyElsewhere)
{
    QString text;
    switch (link) {
    case PeerSecurity::Link::Plain:
        text = u"未加密：对方没有宣告加密（对方的程序不支持，或有一方关闭了“发现附近的人”）。"
               u"消息和文件以明文传送，同一网络上的人可能看到。"_s;
        break;
    case PeerSecurity::Link::KeyChanged:
        text = keyChanged() + u"确认无误后点“接受新密钥”。"_s;
        break;
    case PeerSecurity::Link::Sealed:
        text = !pinned  ? u"已加密。第一次交换消息时会记下对方的密钥。"_s
            : verified ? u"已加密，安全码已核对。"_s
                       : u"已加密，还没有核对安全码。"_s;
        break;
    }
    if (!sameKeyElsewhere.isEmpty())
        text += u"\n"_s + sameKey(sameKeyElsewhere);
    return text;
}

QString SecurityText::sameKey(const QStringList &addresses)
{
    return u"警告：另有电脑使用同一个身份密钥（"_s + addresses.join(u"、"_s)
        + u"），可能是复制了整个系统。请在其中一台电脑的“设置面板”→“附近的人”里点“重置身份”。"_s;
}

QString SecurityText::sameKeyMark() { return u"密钥重复"_s; }

void setWarningColour(QWidget *label, bool warning)
{
    QPalette palette = QApplication::palette(label);
    if (warning) {
        const bool dark = palette.color(QPalette::Window).lightness() < 128;
        palette.setColor(QPalette::WindowText, dark ? QColor(255, 120, 120) : QColor(190, 0, 0));
    }
    label->setPalette(palette);
}
