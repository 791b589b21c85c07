#include "fuzz/FuzzSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace Qt::Literals::StringLiterals;

// Called by libFuzzer once before the first input: the Qt application of the whole run. It
// lives as long as the process, and so must its arguments.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    return 0;
}

namespace FuzzSupport {

QByteArray input(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
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

sockaddr_in ipv4(const char *ip, quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
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
