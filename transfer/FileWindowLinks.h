#pragma once

class PeerSecurity;
class PresenceService;
class QWidget;
class TZnUDP;
struct PeerContext;

// What a file window uses of its peer's main window: the datagram endpoint that every packet
// of the file windows goes through, the file-window flag, the peer's context (prompts, error
// reporter, own address), the main window itself, whose children the file windows are, and
// the peer's security, which decides whether a file goes inside TLS (none: always plain), and
// presence, which tells which peers take several files and folders in one offer (none: no peer).
struct FileWindowLinks {
    TZnUDP &lwudp;
    int &tag;
    PeerContext &context;
    QWidget *owner;
    PeerSecurity *security = nullptr;
    PresenceService *presence = nullptr;
};
