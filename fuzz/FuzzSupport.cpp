#include "fuzz/FuzzSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace FuzzSupport {

void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    // The application lives for the whole process; its arguments must outlive it.
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

bool pumpUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    bool expired = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&expired] { expired = true; });
    limit.start(timeoutMs);
    while (!done() && !expired)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

QString scratchFolder()
{
    static std::unique_ptr<QTemporaryDir> holder; // removed when the process exits
    const QString shm = u"/dev/shm"_s;
    const QString base = QDir(shm).exists() && QFileInfo(shm).isWritable() ? shm : QDir::tempPath();
    auto dir = std::make_unique<QTemporaryDir>(base + u"/talvino-fuzz-XXXXXX"_s);
    if (!dir->isValid())
        fail(u"cannot create a scratch folder in "_s + base);
    const QString path = dir->path();
    holder = std::move(dir);
    return path;
}

void fail(const QString &what)
{
    std::fprintf(stderr, "\n*** fuzz invariant broken: %s\n", what.toLocal8Bit().constData());
    std::fflush(stderr);
    std::abort();
}

} // namespace FuzzSupport
