#include "bench/BenchPeer.h"

#include "ui/TForm1.h"
#include "ui/TForm2.h"
#include "ui/TForm5.h"

#include <QAction>

void BenchPeer::enterChatRoom() { form1->N7->trigger(); }

int BenchPeer::chatRoomEntries() const
{
    TForm5 *view = form2->chatRoomView();
    return view ? int(view->transcript().count(QStringLiteral("\r\n")) / 3) : 0;
}
