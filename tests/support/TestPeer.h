#pragma once

#include "core/PeerContext.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempDir.h"

#include <memory>

class FakeMediaPlayer;
class TForm1;
class TForm2;
class TransferWindows;
class TZnUDP;

// One complete peer for window tests, as the program's entry builds it: its own folder (for
// myinfo.ini, chatdat/ and readme.txt), scripted prompts, a recording error reporter, its
// bind address, the main window with its endpoint (bound at once) and the hidden settings
// window with a fake media player. Nothing is shown until start().
class TestPeer {
public:
    // appDir: the peer's folder when it must be a particular one; by default its own
    // temporary folder dir.
    explicit TestPeer(const QString &bindAddress = QStringLiteral("127.0.0.2"),
                      const QString &appDir = QString());
    ~TestPeer();

    // Writes MainSection/Name into myinfo.ini (GBK), as an earlier run would have saved it.
    void storeNickname(const QString &name);
    // Shows the main window, which runs its start-up steps.
    void start();

    QString ip() const { return context.bindAddress; }
    TZnUDP &endpoint();

    TempDir dir;
    ScriptedDialogs prompts; // the boxes and the file and font dialogs
    RecordingReporter reporter;
    PeerContext context;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    FakeMediaPlayer *player; // owned by form2
    // The file windows of the peer, wired to its main window.
    std::unique_ptr<TransferWindows> files;
};
