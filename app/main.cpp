// The messenger's entry: starts the GUI with the application title, creates the main window,
// the hidden settings window, the file windows and the desktop presence (tray icon, unread
// marks, notifications), and runs the event loop until the program quits. With the flag
// --tray (a start at login) the main window starts hidden in the tray, where there is one.
//
// The program ends as its quit command ends it when asked by a signal: SIGTERM (the desktop
// at logout or shutdown), SIGHUP or SIGINT. When the connection to the display breaks, Qt's
// X11 platform ends the process itself (exit(1), from inside the event loop): the chat logs
// and the chat-room transcript do not wait for the end, each entry is written as it is made.
#include "app/GuardedApplication.h"
#include "app/QuietIdle.h"
#include "app/QuitSignals.h"
#include "core/DataFolders.h"
#include "core/PeerContext.h"
#include "net/DescriptorLimit.h"
#include "transfer/TransferWindows.h"
#include "ui/AppTitle.h"
#include "ui/AutostartEntry.h"
#include "ui/DesktopPresence.h"
#include "ui/ErrorBox.h"
#include "ui/QtPrompts.h"
#include "ui/QtTranslation.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"
#include "ui/TrayIcon.h"

#include <QTimer>

#include <cstdlib>
#include <functional>

namespace {

// What must still happen when the process ends without returning from main: Qt's X11 platform
// calls exit() from inside the event loop when the connection to the display breaks.
std::function<void()> atAbruptEnd;

// Holds what atAbruptEnd does for as long as the objects it uses live.
struct AbruptEnd {
    explicit AbruptEnd(std::function<void()> f) { atAbruptEnd = std::move(f); }
    ~AbruptEnd() { atAbruptEnd = nullptr; }
    AbruptEnd(const AbruptEnd &) = delete;
    AbruptEnd &operator=(const AbruptEnd &) = delete;
};

} // namespace

int main(int argc, char **argv)
{
    // Before anything opens a descriptor; a refusal leaves the limit as it was.
    DescriptorLimit::raiseToHard();
    GuardedApplication app(argc, argv);
    // The name of the program's windows on the task bar. The display name is left unset, so
    // that window titles are not given the title as a suffix.
    QApplication::setApplicationName(appTitle());
    QApplication::setQuitOnLastWindowClosed(false);
    QuitSignals quitSignals;
    std::atexit([] {
        if (atAbruptEnd)
            atAbruptEnd();
    });
    QtTranslation::install(app);

    QtPrompts prompts;
    ErrorBox errorBox(prompts);
    app.setReporter(&errorBox);

    PeerContext context;
    const DataFolders folders = DataFolders::choose(QCoreApplication::applicationDirPath());
    folders.prepare();
    folders.applyTo(context);
    context.prompts = &prompts;
    context.dialogs = &prompts;
    context.fontDialog = &prompts;
    context.reporter = &errorBox;

    int result = 1;
    guarded(errorBox, [&] {
        TForm1 form1(context);
        // Boxes that no window of their own raised belong to the main window.
        prompts.setMainWindow(&form1);
        TForm2 form2(context);
        form1.setSettingsWindow(&form2);
        TransferWindows fileWindows({*form1.lwudp, form1.Tag, context, &form1, &form1.security(), form1.presence()});
        form1.setFileWindows(&fileWindows);
        form1.dispatcher().setFileWindows(&fileWindows);
        const bool withTray = TrayIcon::available();
        DesktopPresence desktop(form1, form2, withTray, [] { return QDBusConnection::sessionBus(); },
                                AutostartEntry::forThisProgram());
        QObject::connect(&form1, &TForm1::closed, &app, &QCoreApplication::quit);
        const AbruptEnd abruptEnd([&form1] { form1.endAbruptly(); });
        // Asked to end: the windows close as at quitting, and so write what they write then.
        // The loops are told to end first, so that no box raised meanwhile (an error at
        // closing) waits for an answer nobody will give, and no window can keep it running.
        QObject::connect(&quitSignals, &QuitSignals::received, &form1, [&form1] {
            QCoreApplication::exit(0);
            form1.quit();
        });
        // The main window is shown once the loop runs, so its start-up boxes run inside it.
        QuietIdle quietIdle(&form1);
        const bool hidden = withTray && QCoreApplication::arguments().contains(AutostartEntry::hiddenFlag());
        if (hidden)
            QTimer::singleShot(0, &form1, &TForm1::startHidden);
        else
            QTimer::singleShot(0, &form1, &QWidget::show);
        // Sets that did not arrive whole come back paused, after the main window.
        QTimer::singleShot(0, &form1, [&fileWindows] { fileWindows.restoreSets(); });
        result = QApplication::exec();
        prompts.setMainWindow(nullptr);
    });
    return result;
}
