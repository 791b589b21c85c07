#pragma once

#include "core/DispatcherWindows.h"
#include "core/NearbyTable.h"

#include <QList>

class Deliveries;
class FileWindows;
class HistoryKeeper;
class PeerSecurity;
class QWidget;
class SettingsLinks;
class TForm5;
class TZnUDP;
struct PeerContext;

// What the windows that the main window opens use of it: besides what the dispatcher asks,
// the peer's context and datagram endpoint, the main window as their parent, the settings
// window, the chat mode of its menu and the chat-room view it owns. The main window
// implements it, so that no other window includes the main window's header.
class MainWindowLinks : public DispatcherWindows {
public:
    virtual PeerContext &context() = 0;
    // The peer's one datagram endpoint, which every packet of the windows leaves through.
    virtual TZnUDP &endpoint() = 0;
    // The main window itself: the parent of the other windows, and what they dock to and
    // measure the desktop's decoration by.
    virtual QWidget &widget() = 0;
    // The settings window while it exists, else null.
    virtual SettingsLinks *settings() const = 0;
    // Shows the chat mode in the buddy list's menu item N7: chat-room mode (true) or
    // auto-pop-up mode.
    virtual void setChatMode(bool chatRoom) = 0;
    // Opens a new chat-room view, or closes the current one (a close that is already under
    // way has no further effect).
    virtual void openChatRoomView() = 0;
    virtual void closeChatRoomView() = 0;
    // The current chat-room view: null in auto-pop-up mode.
    virtual TForm5 *chatRoomView() const = 0;
    // The nearby peers that are not buddies, as the main window lists them.
    virtual QList<NearbyPeer> nearbyPeers() const = 0;
    // Keys, sealing, the peers' pinned keys and safety codes.
    virtual PeerSecurity &security() = 0;
    // Messages on their way and what became of them (see Deliveries).
    virtual Deliveries &deliveries() = 0;
    // The file windows, once set; null before.
    virtual FileWindows *fileWindows() const = 0;
    // The searchable history kept beside the chat logs.
    virtual HistoryKeeper &history() = 0;
    // Opens the search window of the history, or brings it up: with only the messages of the
    // log entry `entry` when that is not empty, else with every buddy's.
    virtual void openHistorySearch(const QString &entry) = 0;
};
