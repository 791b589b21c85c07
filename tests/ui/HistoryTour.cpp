// Shows the history's search window with a few hits, one of them chosen with its conversation,
// in a light or a dark palette, and prints its window id for scripts/screenshots.sh (not a
// test). One peer (阿明, 127.0.0.2) whose history holds two buddies' conversations, one message
// with markup in it, which the window shows as written.
// Usage: history_tour light|dark folder
#include "harness/HarnessPeer.h"
#include "ui/ErrorBox.h"
#include "ui/HistoryHitModel.h"
#include "ui/HistoryKeeper.h"
#include "ui/HistorySearchWindow.h"
#include "ui/QtPrompts.h"
#include "ui/QtTranslation.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QListView>
#include <QStyleFactory>
#include <QTimer>
#include <cstdio>
#include <functional>

using namespace Qt::Literals::StringLiterals;

namespace {

struct TourBoxes {
    QtPrompts prompts;
    ErrorBox errors{prompts};
};

struct Peer : TourBoxes, HarnessPeer {
    Peer(const QString &address, const QString &folder)
        : HarnessPeer(prompts, prompts, errors, address, (QDir().mkpath(folder), folder))
    {
        storeNickname(u"阿明"_s);
        prompts.setMainWindow(form1.get());
    }
    ~Peer() { prompts.setMainWindow(nullptr); }
};

// The dark palette of the screenshot tour (tests/tour).
QPalette darkPalette()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Button, QColor(55, 55, 58));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(127, 127, 127));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(127, 127, 127));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(127, 127, 127));
    return dark;
}

void waitFor(const std::function<bool()> &test, int timeoutMs = 5000)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (test())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(20);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    QApplication::setApplicationName(u"Talvino version 1.0"_s);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setStyle(QStyleFactory::create(u"Fusion"_s));
    if (qstrcmp(argv[1], "dark") == 0)
        QApplication::setPalette(darkPalette());
    QtTranslation::install(app);

    Peer a(u"127.0.0.2"_s, QString::fromLocal8Bit(argv[2]));
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
    std::printf("historysearch %llu\n", static_cast<unsigned long long>(window->winId()));
    std::printf("ready\n");
    std::fflush(stdout);
    return QApplication::exec();
}
