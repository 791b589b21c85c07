#pragma once

#include "ui/PresenceSettings.h"

#include <QWidget>

class QCheckBox;
class QListWidget;
struct PeerContext;

// The settings window's presence tab: presence on or off, the machine's interfaces to tick
// (none ticked: every interface that is not virtual), and whether buddies are remembered
// between runs. Loads the stored choices when made and stores each change at once, so that
// the next run starts with them; changed() tells the main window to apply them.
class PresencePage : public QWidget {
    Q_OBJECT
public:
    explicit PresencePage(PeerContext &context, QWidget *parent = nullptr);

    PresenceSettings settings() const { return settings_; }
    // The interfaces listed to tick: up, not loopback, with an IPv4 address.
    static QStringList machineInterfaces();

    QCheckBox *presenceOn;
    QListWidget *interfaceList;
    QCheckBox *rememberBuddies;

signals:
    void changed();

private:
    void fillInterfaces();
    void takeChoices();

    PeerContext &context_;
    PresenceSettings settings_;
};
