#include "core/StatusModes.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using Item = StatusModes::ReplyItem;

TEST(StatusModes, StartsSecureWithoutReplyAndStatusChoicesReplaceEachOther)
{
    StatusModes modes;
    EXPECT_EQ(modes.statusFlag(), 0);
    EXPECT_EQ(modes.statusText(), u"安全状态"_s);
    EXPECT_EQ(modes.caption(), u"Talvino"_s);
    EXPECT_EQ(modes.checkedReply(), Item::None);
    EXPECT_EQ(modes.customItemCaption(), u"自定义自动回复"_s);
    modes.chooseNormal();
    EXPECT_EQ(modes.statusFlag(), 1);
    EXPECT_TRUE(modes.normalChecked() && !modes.secureChecked());
    EXPECT_EQ(modes.statusText(), u"一般状态"_s);
    modes.chooseSecure();
    EXPECT_EQ(modes.statusFlag(), 0);
    EXPECT_TRUE(!modes.normalChecked() && modes.secureChecked());
    // The status does not touch the automatic reply.
    EXPECT_EQ(modes.caption(), u"Talvino"_s);
}

TEST(StatusModes, PresetReplacesAnyEarlierReply)
{
    StatusModes modes;
    modes.beginCustom();
    modes.setCustomText(u"开会"_s);
    modes.choosePreset(Item::N15);
    EXPECT_EQ(modes.caption(), u"[自动回复]:休息中Zzz"_s);
    EXPECT_EQ(modes.checkedReply(), Item::N15);
    modes.choosePreset(Item::N14);
    EXPECT_EQ(modes.caption(), u"[自动回复]:我去吃东西了"_s);
    EXPECT_EQ(modes.checkedReply(), Item::N14);
    // Only N12 to N15 are presets: anything else just cancels.
    modes.choosePreset(Item::N16);
    EXPECT_EQ(modes.caption(), u"Talvino"_s);
    EXPECT_EQ(modes.checkedReply(), Item::None);
}

TEST(StatusModes, CustomReplyRenamesItsItemAndKeepsTheNameAfterCancel)
{
    StatusModes modes;
    modes.choosePreset(Item::N12);
    modes.beginCustom();
    // While the input box stands open the reply is already cancelled and N16 checked.
    EXPECT_EQ(modes.caption(), u"Talvino"_s);
    EXPECT_EQ(modes.checkedReply(), Item::N16);
    modes.setCustomText(u"开会"_s);
    EXPECT_EQ(modes.caption(), u"[自动回复]:开会"_s);
    EXPECT_EQ(modes.customItemCaption(), u"自定义自动回复：开会"_s);
    modes.cancelReply();
    EXPECT_EQ(modes.caption(), u"Talvino"_s);
    EXPECT_EQ(modes.checkedReply(), Item::None);
    EXPECT_EQ(modes.customItemCaption(), u"自定义自动回复：开会"_s);
}

TEST(StatusModes, CancelledInputBoxStillSetsAnEmptyReply)
{
    StatusModes modes;
    modes.beginCustom();
    modes.setCustomText(QString());
    EXPECT_EQ(modes.caption(), u"[自动回复]:"_s);
    EXPECT_NE(modes.caption(), StatusModes::noReplyCaption());
    EXPECT_EQ(modes.customItemCaption(), u"自定义自动回复："_s);
}
