// Shows the history's search window with a few hits, one of them chosen with its conversation,
// in a light or a dark palette, and prints its window id for scripts/screenshots.sh (not a
// test). One peer (阿明, 127.0.0.2) whose history holds two buddies' conversations, one message
// with markup in it, which the window shows as written.
// Usage: history_tour light|dark folder
#include "tests/tour/Tour.h"
#include "ui/HistoryHitModel.h"
#include "ui/HistoryKeeper.h"
#include "ui/HistorySearchWindow.h"
#include "ui/TForm2.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListView>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

using Tour::waitFor;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    Tour::dress(app, argv[1]);

    Tour::Peer a(u"127.0.0.2"_s, QString::fromLocal8Bit(argv[2]), u"阿明"_s);
    a.form1->show();
    waitFor([&] { return a.form1->isVisible(); });
    a.form1->move(40, 40);
    a.form2->bcf->setChecked(true);
    waitFor([&] { return !a.form1->history().importing(); });

    struct Line {
        const char *buddy;
        int minutesAgo;
        MessageDirection direction;
        QString text;
    };
    const QList<Line> lines{
        {"[1]阿红", 3000, MessageDirection::Received, u"周五下午的开会改到几点了？"_s},
        {"[1]阿红", 2998, MessageDirection::Sent, u"改到三点，在二楼会议室开会。"_s},
        {"[1]阿红", 2997, MessageDirection::Received, u"<b>好的</b>，我把投影仪带上 &amp; 激光笔"_s},
        {"[1]阿红", 2990, MessageDirection::Sent, u"谢谢！记得带上上周的报表"_s},
        {"[2]老王", 1500, MessageDirection::Sent, u"老王，明天上午十点开会，别忘了"_s},
        {"[2]老王", 1499, MessageDirection::AutoReply, u"[自动回复]:工作中，请勿打扰"_s},
        {"[2]老王", 1400, MessageDirection::Received,
         u"收到，开会前我先把方案发给大家看看，这次的改动比较多，"
         u"主要是接口和数据库两部分"_s},
        {"[1]阿红", 60, MessageDirection::Received, u"下周的开会材料我已经放到共享目录里了"_s},
    };
    const QDateTime now = QDateTime::currentDateTime();
    for (const Line &line : lines)
        a.form1->history().add({QString::fromUtf8(line.buddy), u"192.168.1.23"_s,
                                now.addSecs(-60 * line.minutesAgo), line.direction, line.text});

    a.form1->openHistorySearch(QString());
    HistorySearchWindow *window = a.form1->historySearch();
    window->move(240, 40);
    window->query->setText(u"开会"_s);
    window->searchNow();
    waitFor([&] { return !window->searching(); });
    window->hits->setCurrentIndex(window->hitModel().index(3, 0));
    waitFor([&] { return window->shownContext() != 0; });
    Tour::print("historysearch", window);
    std::printf("ready\n");
    std::fflush(stdout);
    return QApplication::exec();
}
