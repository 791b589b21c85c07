#include "harness/HarnessPeer.h"

#include "core/Gbk.h"
#include "harness/FakeMediaPlayer.h"
#include "transfer/TransferWindows.h"
#include "ui/Dialogs.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"

#include <QFile>

HarnessPeer::HarnessPeer(Prompts &prompts, FileAndFontDialogs &dialogs, ErrorReporter &reporter,
                         const QString &bindAddress, const QString &appDir)
{
    context.keepFilesIn(appDir.isEmpty() ? dir.path() : appDir);
    context.bindAddress = bindAddress;
    context.prompts = &prompts;
    context.dialogs = &dialogs;
    context.fontDialog = &dialogs;
    context.reporter = &reporter;
    buildWindows();
}

// The windows and how they reach each other, as in app/main.cpp.
void HarnessPeer::buildWindows()
{
    form1 = std::make_unique<TForm1>(context);
    player = new FakeMediaPlayer;
    form2 = std::make_unique<TForm2>(context, player);
    // Tests reach the settings window's controls without opening it; the program makes them
    // when the window is first shown.
    form2->buildPages();
    form1->setSettingsWindow(form2.get());
    files = std::make_unique<TransferWindows>(
        FileWindowLinks{*form1->lwudp, form1->Tag, context, form1.get(), &form1->security(), form1->presence()});
    form1->setFileWindows(files.get());
    form1->dispatcher().setFileWindows(files.get());
}

HarnessPeer::~HarnessPeer()
{
    form2.reset();
    form1.reset();
    files.reset();
}

void HarnessPeer::storeNickname(const QString &name)
{
    QFile file(context.configDir + QStringLiteral("/myinfo.ini"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write("[MainSection]\r\nName=" + Gbk::encode(name) + "\r\n");
}

void HarnessPeer::start() { form1->show(); }

TZnUDP &HarnessPeer::endpoint() { return *form1->lwudp; }
