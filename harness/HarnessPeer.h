#pragma once

#include "core/PeerContext.h"
#include "harness/TempDir.h"

#include <memory>

class ErrorReporter;
class FileAndFontDialogs;
class FakeMediaPlayer;
class Prompts;
class TForm1;
class TForm2;
class TransferWindows;
class TZnUDP;

// One complete peer in one process, built as the program's entry builds it: its folder (for
// myinfo.ini, chatdat/ and readme.txt; its own temporary folder unless one is given), the
// given prompts and error reporter, its bind address, the main window with its endpoint (bound
// at once), the hidden settings window with a media player that plays nothing, and the file
// windows. Nothing is shown until start(). Tests and benchmarks build their peers on it, each
// with prompts of its own; the prompts and the reporter must outlive the peer.
class HarnessPeer {
public:
    HarnessPeer(Prompts &prompts, FileAndFontDialogs &dialogs, ErrorReporter &reporter,
                const QString &bindAddress, const QString &appDir = QString());
    ~HarnessPeer();
    HarnessPeer(const HarnessPeer &) = delete;
    HarnessPeer &operator=(const HarnessPeer &) = delete;

    // Writes MainSection/Name into myinfo.ini (GBK), as an earlier run would have saved it.
    void storeNickname(const QString &name);
    // Shows the main window, which runs its start-up steps.
    void start();

    QString ip() const { return context.bindAddress; }
    TZnUDP &endpoint();

    TempDir dir;
    PeerContext context;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    FakeMediaPlayer *player = nullptr; // owned by form2
    std::unique_ptr<TransferWindows> files;

private:
    void buildWindows();
};
