#include "core/StatusModes.h"

using namespace Qt::Literals::StringLiterals;

QString StatusModes::noReplyCaption() { return u"Talvino"_s; }

QString StatusModes::replyPrefix() { return u"[自动回复]:"_s; }

QString StatusModes::presetCaption(ReplyItem item)
{
    switch (item) {
    case ReplyItem::N12: return u"工作中，请勿打扰"_s;
    case ReplyItem::N13: return u"请稍等，我马上回来"_s;
    case ReplyItem::N14: return u"我去吃东西了"_s;
    case ReplyItem::N15: return u"休息中Zzz"_s;
    case ReplyItem::None:
    case ReplyItem::N16: break;
    }
    return {};
}

QString StatusModes::statusText() const { return flag_ == NormalStatus ? u"一般状态"_s : u"安全状态"_s; }

void StatusModes::cancelReply()
{
    checked_ = ReplyItem::None;
    caption_ = noReplyCaption();
}

void StatusModes::choosePreset(ReplyItem item)
{
    cancelReply();
    if (presetCaption(item).isEmpty())
        return;
    checked_ = item;
    caption_ = replyPrefix() + presetCaption(item);
}

void StatusModes::beginCustom()
{
    cancelReply();
    checked_ = ReplyItem::N16;
}

void StatusModes::setCustomText(const QString &text)
{
    checked_ = ReplyItem::N16;
    caption_ = replyPrefix() + text;
    customItemCaption_ = u"自定义自动回复："_s + text;
}
