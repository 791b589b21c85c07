#pragma once

#include "bench/BenchPrompts.h"
#include "core/PeerContext.h"

#include <QTemporaryDir>
#include <memory>

class TForm1;
class TForm2;
class TransferWindows;

// One complete peer of a benchmark, built as the program's entry builds it: its own folder
// (a temporary one), prompts that answer at once, the main window with its endpoint bound to
// its address, the hidden settings window and the file windows. Nothing is shown until start().
class BenchPeer {
public:
    explicit BenchPeer(const QString &ip);
    ~BenchPeer();

    // Writes MainSection/Name into myinfo.ini, as an earlier run would have saved it.
    void storeNickname(const QString &name);
    // Shows the main window, which runs its start-up steps.
    void start();
    // The user chooses chat-room mode from the buddy list's menu: the chat-room view opens.
    void enterChatRoom();
    // Entries in the chat-room transcript (each takes three lines), 0 without a view.
    int chatRoomEntries() const;

    QString ip() const { return context.bindAddress; }

    QTemporaryDir dir;
    BenchPrompts prompts;
    PeerContext context;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TransferWindows> files;
};

// Windows of benchmark roles go to the offscreen platform unless another one is asked for.
inline void useOffscreenPlatform()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}
