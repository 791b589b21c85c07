#include "bench/ZeroCopy.h"

#include "bench/CopyEnds.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int PipeBytes = 1 << 20;

} // namespace

int zeroCopyReceiver(const BenchOptions &o)
{
    const int s = acceptOneCopy(o);
    const int out = open((o.dir + "/received-zero.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int pipeFds[2];
    if (s < 0 || out < 0 || pipe(pipeFds) != 0)
        fail("accept, create or pipe");
    if (fcntl(pipeFds[1], F_SETPIPE_SZ, PipeBytes) < 0)
        fail("pipe size");
    for (;;) {
        const ssize_t n = splice(s, nullptr, pipeFds[1], nullptr, PipeBytes, SPLICE_F_MOVE | SPLICE_F_MORE);
        if (n < 0)
            fail("splice from the socket");
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = splice(pipeFds[0], nullptr, out, nullptr, size_t(n - done), SPLICE_F_MOVE);
            if (w <= 0)
                fail("splice into the file");
            done += w;
        }
    }
    close(out);
    close(s);
    return 0;
}

int zeroCopySender(const BenchOptions &o)
{
    reportStartCpu();
    const int in = open(o.file.c_str(), O_RDONLY);
    struct stat info {};
    if (in < 0 || fstat(in, &info) != 0)
        fail("open");
    QElapsedTimer clock;
    clock.start();
    const int s = connectToReceiver(o);
    for (off_t offset = 0; offset < info.st_size;)
        if (sendfile(s, in, &offset, size_t(info.st_size - offset)) <= 0)
            fail("sendfile");
    endSending(s, clock);
    close(in);
    return 0;
}
