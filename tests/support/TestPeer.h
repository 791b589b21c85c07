#pragma once

#include "harness/HarnessPeer.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/ScriptedDialogs.h"

// The boxes of a test peer: a base of its own, so that they are made before the windows and
// gone after them.
struct TestPeerBoxes {
    ScriptedDialogs prompts; // the boxes and the file and font dialogs
    RecordingReporter reporter;
};

// One complete peer for window tests (see HarnessPeer) with scripted prompts and a recording
// error reporter.
class TestPeer : public TestPeerBoxes, public HarnessPeer {
public:
    // appDir: the peer's folder when it must be a particular one; by default its own
    // temporary folder dir.
    explicit TestPeer(const QString &bindAddress = QStringLiteral("127.0.0.2"),
                      const QString &appDir = QString())
        : HarnessPeer(prompts, prompts, reporter, bindAddress, appDir)
    {}
};
