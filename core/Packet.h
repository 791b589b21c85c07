#pragma once

#include "core/Gbk.h"

#include <QByteArray>
#include <QString>

class TZnUDP;

// Datagram packets of the peer protocol: one ASCII type digit followed by the GBK payload,
// no terminator. Each builder returns the packet as it goes on the wire: at most 255 bytes
// (127 for friend requests and friend accepts); a longer text is cut to the packet buffer,
// never in the middle of a character.
class Packet {
public:
    enum Type : char {
        Message = '1',
        FriendRequest = '2',
        FileAccept = '3',
        FriendAccept = '4',
        FileOffer = '5',
        AutoReply = '6',
        Progress = '7',
    };

    static constexpr int BufferSize = 255;      // types 1, 3, 5, 6, 7, and every receive
    static constexpr int ShortBufferSize = 127; // types 2 and 4

    // Size of the packet buffer of a type (given as its digit).
    static int bufferSize(char type);

    // Type 1: the message text as typed, in GBK or (to a peer that reads it) GB18030.
    static QByteArray message(const QString &text, Gbk::Charset charset = Gbk::Charset::Gbk);
    // Type 2: the own nickname.
    static QByteArray friendRequest(const QString &ownNickname);
    // Type 3: the single byte "3".
    static QByteArray fileAccept();
    // Type 4: the own nickname.
    static QByteArray friendAccept(const QString &ownNickname);
    // Type 5: size, "Byte ", the file name without its folder, " [备注：", note, "]".
    static QByteArray fileOffer(qint64 size, const QString &fileName, const QString &note);
    // Type 6: the main window's caption ("[自动回复]:" followed by the reply text).
    static QByteArray autoReply(const QString &caption, Gbk::Charset charset = Gbk::Charset::Gbk);
    // Type 7: the number of bytes sent so far, in decimal.
    static QByteArray progress(qint64 position);

    // The four sender steps: copy packet into a packet buffer of its type's size (cutting what
    // does not fit), set the endpoint's RemoteHost to ip, and send the packet's length; what
    // goes out passes the endpoint's OnSeal first.
    // Exceptions of the endpoint pass to the caller.
    static void send(TZnUDP &endpoint, const QString &ip, const QByteArray &packet);

private:
    // The type digit followed by text in GBK, cut on a character boundary to fit the buffer.
    static QByteArray build(char type, const QString &text, Gbk::Charset charset = Gbk::Charset::Gbk);
};
