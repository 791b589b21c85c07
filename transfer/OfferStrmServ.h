#pragma once

#include "net/TZnStrmServ.h"

// The receive-file window's stream receiver: listens from the start, but serves one connection
// only, from the peer that made the offer (Host), and only once the user has accepted the offer.
// Every other connection is closed unread, so nothing but the offered file can land in the
// chosen target. The server's OnDisconnect comes for refused connections too: Admitted() on
// its Sender tells them apart.
class OfferStrmServ : public TZnStrmServ {
    Q_OBJECT
public:
    explicit OfferStrmServ(QObject *owner = nullptr);

    // The file accept has gone out: the next connection from Host is served, and no other.
    bool Expecting = false;
    // The size in the offer: a stream that announces another length is refused.
    qint64 OfferedSize = 0;

    // In a connection component: whether its connection was served rather than refused.
    bool Admitted() const { return admitted_; }

    void ServeConnection() override;

protected:
    TZnGeneralServer *NewConnectionComponent() override;
    bool acceptsBodyLength(int size) const override;

private:
    OfferStrmServ(ConnectionOf link, bool admitted);

    bool admitted_ = false;
};
