#pragma once

#include "bench/BenchPrompts.h"
#include "harness/HarnessPeer.h"

// The prompts of a benchmark peer: a base of its own, so that they are made before the windows
// and gone after them.
struct BenchPeerBoxes {
    BenchPrompts prompts;
};

// One complete peer of a benchmark (see HarnessPeer) in its own temporary folder, with prompts
// that answer at once and report errors too.
class BenchPeer : public BenchPeerBoxes, public HarnessPeer {
public:
    // appDir: the peer's folder when it must outlive the peer; its own temporary one when empty.
    explicit BenchPeer(const QString &ip, const QString &appDir = QString())
        : HarnessPeer(prompts, prompts, prompts, ip, appDir)
    {}

    // The user chooses chat-room mode from the buddy list's menu: the chat-room view opens.
    void enterChatRoom();
    // Entries in the chat-room transcript (each takes three lines), 0 without a view.
    int chatRoomEntries() const;
};

// Windows of benchmark roles go to the offscreen platform unless another one is asked for.
inline void useOffscreenPlatform()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}
