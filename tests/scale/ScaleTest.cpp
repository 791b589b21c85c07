#include "bench/BenchPeer.h"
#include "bench/ScaleRun.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"
#include "ui/TForm5.h"

#include <QListWidget>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

// Ten complete peers in one process on 127.0.0.2 to 127.0.0.11, each befriending three others
// through its add-friend dialog, then sending 1020 messages paced at 1000 datagrams per second
// over all senders: every message reaches its addressee once, from its sender, and lands in
// the addressee's chat-room transcript under the sender's buddy entry.
TEST(Scale, TenPeersLoseNothingAtAThousandDatagramsPerSecond)
{
    ScaleRun run({.peers = 10, .friends = 3, .messagesPerFriend = 34, .firstHost = 2});
    QString why;
    ASSERT_TRUE(run.start(&why)) << why.toStdString();
    for (int i = 0; i < run.peerCount(); ++i)
        EXPECT_EQ(run.peer(i).form1->userlist->count(), 6) << "peer " << i;

    const ScaleRun::Result r = run.sendMessages(1000);
    EXPECT_EQ(r.sent, 1020);
    EXPECT_EQ(r.lost(), 0);
    EXPECT_EQ(r.misdelivered, 0);
    EXPECT_EQ(r.appended, r.sent);
    EXPECT_EQ(r.errors, 0);

    // Message 0 went from peer 0 to peer 1, whose transcript names peer 0 by its buddy entry.
    const QString transcript = run.peer(1).form2->chatRoomView()->transcript();
    EXPECT_TRUE(transcript.contains(QRegularExpression(u"(^|\\n)\\[\\d+\\]用户0:\\["_s)))
        << transcript.left(200).toStdString();
    EXPECT_TRUE(transcript.contains(u"\r\n0 你好，今天的会议改到三点\r\n"_s));
}
