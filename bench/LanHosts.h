#pragma once

#include <string>

// The two hosts of lan_bench's link and where its programs are: the sending roles run in one
// namespace, the receiving ones in the other.
struct LanHosts {
    std::string senderNs;
    std::string senderIp;
    std::string receiverNs;
    std::string receiverIp;
    std::string programs; // the folder of lan_bench, stream_bench, window_bench and dispatch_bench, with '/'
};
