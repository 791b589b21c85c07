#include "core/ChatLog.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(ChatLog, FileNamesStayInsideChatdatAndOrdinaryEntriesKeepTheirText)
{
    const QString dir = u"/peer"_s;
    EXPECT_EQ(ChatLog::fileName(dir, u"[3]小明"_s), u"/peer/chatdat/[3]小明.txt"_s);
    EXPECT_EQ(ChatLog::fileName(dir, u"陌生人"_s), u"/peer/chatdat/陌生人.txt"_s);
    EXPECT_EQ(ChatLog::fileName(dir, u"[1]../../etc/x"_s), u"/peer/chatdat/[1].._.._etc_x.txt"_s);
    EXPECT_EQ(ChatLog::fileName(dir, u"[2]a\\b\tc\x7f\u0085"_s), u"/peer/chatdat/[2]a_b_c__.txt"_s);
    EXPECT_EQ(ChatLog::fileName(dir, u".."_s), u"/peer/chatdat/...txt"_s);
    const QString longName = ChatLog::fileName(dir, u"[4]"_s + QString(300, u'名'));
    EXPECT_TRUE(longName.startsWith(u"/peer/chatdat/[4]名"_s));
    EXPECT_LE(QFileInfo(longName).fileName().toUtf8().size(), 255);
    EXPECT_EQ(ChatLog::transcriptFileName(dir), u"/peer/chatdat/聊天室.txt"_s);
}
