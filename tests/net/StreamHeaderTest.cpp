// Header fields of a stream post that only look like numbers: the receiver refuses them
// (no OnMSG, no acknowledgement) instead of reading a body of the wrong length.
#include "RawTcp.h"
#include "harness/TempDir.h"
#include "net/TZnStrmServ.h"
#include "tests/support/Waits.h"

#include <QDir>
#include <QFile>
#include <atomic>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray ack = QByteArray("OK") + QByteArray(14, ' ');

// Sends the stream from a client that is not ours, closes its sending side, and returns all
// that came back before the receiver closed.
QByteArray exchange(const QByteArray &stream)
{
    return RawTcp::runAside([stream] {
        RawTcp::Socket s = RawTcp::connectTo("127.0.0.2", 2921);
        RawTcp::sendAll(s, stream);
        ::shutdown(s.fd(), SHUT_WR);
        return RawTcp::receiveAll(s);
    });
}

} // namespace

TEST(StreamHeader, FieldsWithZeroBytesOrSignsInsideAreNoNumbers)
{
    TempDir dir;
    std::atomic<int> messages{0};
    std::atomic<int> ended{0};
    TZnStrmServ server;
    server.Port = 2921;
    server.BindAddress = u"127.0.0.2"_s;
    server.TempFolder = dir.path();
    server.OnMSG = [&](TZnStrmServ *, const QByteArray &, QFile *) { ++messages; };
    server.OnDisconnect = [&](RIzarorozi *) { ++ended; };
    server.Loaded();
    ASSERT_TRUE(server.Listening()) << "127.0.0.2:2921 is taken";

    // Found by the fuzzer: the conversion stopped at the zero byte, so "31", NUL and more
    // digits was read as a body of 31 bytes.
    const QByteArray body(40, 'x');
    EXPECT_EQ(exchange(QByteArray("0000"
                                  "31\0"
                                  "2147483",
                                  14)
                       + body),
              QByteArray());
    EXPECT_EQ(exchange(QByteArray("00\0"
                                  "1"
                                  "a"
                                  "         5"
                                  "hello",
                                  20)),
              QByteArray());
    EXPECT_EQ(exchange("0000"
                       "       1+2"
                       "abc"),
              QByteArray());
    EXPECT_EQ(exchange("0000"
                       "        --"
                       "abc"),
              QByteArray());
    EXPECT_EQ(exchange("0000"
                       "         +"),
              QByteArray());
    // Still numbers: leading spaces and one sign.
    EXPECT_EQ(exchange("+002"
                       "ab"
                       "        +3"
                       "abc"),
              ack);
    ASSERT_EVENTUALLY_EQ(ended.load(), 6, 10000);
    EXPECT_EQ(messages.load(), 1);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}
