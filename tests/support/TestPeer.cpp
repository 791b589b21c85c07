#include "tests/support/TestPeer.h"

#include "core/Gbk.h"
#include "tests/support/FakeMediaPlayer.h"
#include "transfer/TransferWindows.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"

#include <QFile>

TestPeer::TestPeer(const QString &bindAddress, const QString &appDir)
{
    context.keepFilesIn(appDir.isEmpty() ? dir.path() : appDir);
    context.bindAddress = bindAddress;
    context.prompts = &prompts;
    context.dialogs = &prompts;
    context.reporter = &reporter;
    form1 = std::make_unique<TForm1>(context);
    player = new FakeMediaPlayer;
    form2 = std::make_unique<TForm2>(context, player);
    form1->setSettingsWindow(form2.get());
    files = std::make_unique<TransferWindows>(FileWindowLinks{*form1->lwudp, form1->Tag, context, form1.get()});
    form1->setFileWindows(files.get());
}

TestPeer::~TestPeer()
{
    form2.reset();
    form1.reset();
}

void TestPeer::storeNickname(const QString &name)
{
    QFile file(context.configDir + QStringLiteral("/myinfo.ini"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write("[MainSection]\r\nName=" + Gbk::encode(name) + "\r\n");
}

void TestPeer::start() { form1->show(); }

TZnUDP &TestPeer::endpoint() { return *form1->lwudp; }
