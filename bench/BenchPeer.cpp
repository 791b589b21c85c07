#include "bench/BenchPeer.h"

#include "bench/SilentPlayer.h"
#include "core/Gbk.h"
#include "transfer/TransferWindows.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"
#include "ui/TForm5.h"

#include <QAction>
#include <QFile>
#include <QPlainTextEdit>

BenchPeer::BenchPeer(const QString &ip)
{
    context.keepFilesIn(dir.path());
    context.bindAddress = ip;
    context.prompts = &prompts;
    context.dialogs = &prompts;
    context.reporter = &prompts;
    form1 = std::make_unique<TForm1>(context);
    form2 = std::make_unique<TForm2>(context, new SilentPlayer);
    form1->setSettingsWindow(form2.get());
    files = std::make_unique<TransferWindows>(FileWindowLinks{*form1->lwudp, form1->Tag, context, form1.get()});
    form1->setFileWindows(files.get());
}

BenchPeer::~BenchPeer()
{
    form2.reset();
    form1.reset();
    files.reset();
}

void BenchPeer::storeNickname(const QString &name)
{
    QFile file(context.configDir + QStringLiteral("/myinfo.ini"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write("[MainSection]\r\nName=" + Gbk::encode(name) + "\r\n");
}

void BenchPeer::start() { form1->show(); }

void BenchPeer::enterChatRoom() { form1->N7->trigger(); }

int BenchPeer::chatRoomEntries() const
{
    const TForm5 *view = form2->chatRoomView();
    return view ? view->lts->blockCount() / 3 : 0;
}
