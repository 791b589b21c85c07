#include "net/DescriptorLimit.h"

#include <QFile>

#include <sys/resource.h>

namespace {

// The most descriptors a process may have (fs.nr_open); 0 when it cannot be read.
rlim_t systemMost()
{
    QFile file(QStringLiteral("/proc/sys/fs/nr_open"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qulonglong most = file.readAll().trimmed().toULongLong(&ok);
    return ok ? rlim_t(most) : 0;
}

} // namespace

bool DescriptorLimit::raiseToHard()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    rlim_t wanted = limit.rlim_max;
    if (wanted == RLIM_INFINITY) {
        wanted = systemMost();
        if (wanted == 0)
            return false;
    }
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur >= wanted)
        return true;
    limit.rlim_cur = wanted;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}
