// A process that adds messages to a history database until it is killed, for the test that a
// kill in the middle of writes leaves a consistent database. After each add it prints the
// message's number on a line of its own.
//
//   history_writer <database>
#include "history/HistoryStore.h"
#include "tests/history/WrittenText.h"

#include <QCoreApplication>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    OpenReport report;
    const std::unique_ptr<HistoryStore> store = HistoryStore::open(QString::fromLocal8Bit(argv[1]), &report);
    if (!store) {
        std::fprintf(stderr, "%s\n", report.problem.toLocal8Bit().constData());
        return 1;
    }
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1700000000);
    for (int n = 1;; ++n) {
        QString error;
        if (!store->add({WrittenText::buddy(n), u"10.0.0.2"_s, start.addSecs(n), MessageDirection::Received,
                         WrittenText::text(n)},
                        &error)) {
            std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
            return 1;
        }
        std::printf("%d\n", n);
        std::fflush(stdout);
    }
}
