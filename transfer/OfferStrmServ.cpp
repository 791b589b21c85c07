#include "transfer/OfferStrmServ.h"

OfferStrmServ::OfferStrmServ(QObject *owner) : TZnStrmServ(owner) {}

OfferStrmServ::OfferStrmServ(ConnectionOf link, bool admitted) : TZnStrmServ(link), admitted_(admitted) {}

// On the server's thread, right after the accept: the server's remote address is then the
// address of the peer just accepted.
TZnGeneralServer *OfferStrmServ::NewConnectionComponent()
{
    const bool admitted = Expecting && RemoteAddress() == Host;
    if (admitted)
        Expecting = false;
    auto *connection = new OfferStrmServ(ConnectionOf{this}, admitted);
    connection->OnMSG = OnMSG;
    connection->TempFolder = TempFolder;
    connection->OfferedSize = OfferedSize;
    return connection;
}

bool OfferStrmServ::acceptsBodyLength(int size) const { return size == OfferedSize; }

// A refused connection is closed as soon as its service returns, before anything is read.
void OfferStrmServ::ServeConnection()
{
    if (admitted_)
        TZnStrmServ::ServeConnection();
}
