#pragma once

// The copy the file-set benchmarks compare against: tar -c of one entry of a folder, through
// socat to socat over TCP, and tar -x into another folder. Timed from the sender's start to
// the end of tar -x.
#include "bench/ChildProcess.h"
#include "bench/TcpListen.h"

#include <QElapsedTimer>
#include <QThread>

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct TarCopy {
    double seconds = 0;
    double senderCpu = 0;
    double receiverCpu = 0;
};

// Turns a command into the one that runs it on a side of the copy (in a network namespace, say).
using SideCommand = std::function<std::vector<std::string>(const std::vector<std::string> &)>;

// Copies the entry name of folder from into folder to, with the receiving socat on ip:port.
// Nothing when a side failed or the receiver did not listen within listenWaitMs (looked up in
// the receiver's own network namespace).
inline std::optional<TarCopy> tarCopy(const std::string &ip, int port, const std::string &from,
                                      const std::string &name, const std::string &to,
                                      const SideCommand &receiving, const SideCommand &sending,
                                      int listenWaitMs)
{
    ChildProcess receiver(receiving(
        {"bash", "-c", "set -o pipefail; socat -u \"TCP-LISTEN:$2,bind=$1,reuseaddr\" STDOUT | tar -x -C \"$3\"",
         "tar-receive", ip, std::to_string(port), to}));
    const std::string table = "/proc/" + std::to_string(receiver.pid()) + "/net/tcp";
    QElapsedTimer waited;
    waited.start();
    while (!listensOn(ip, port, table)) {
        if (waited.elapsed() > listenWaitMs)
            return std::nullopt;
        QThread::msleep(2);
    }
    QElapsedTimer clock;
    clock.start();
    ChildProcess sender(sending({"bash", "-c", "set -o pipefail; tar -c -C \"$1\" \"$2\" | socat -u STDIN \"TCP:$3:$4\"",
                                 "tar-send", from, name, ip, std::to_string(port)}));
    const bool sent = sender.finish();
    const bool received = receiver.finish();
    if (!sent || !received)
        return std::nullopt;
    return TarCopy{double(clock.nsecsElapsed()) / 1e9, sender.cpuSeconds(), receiver.cpuSeconds()};
}
