#pragma once

#include "ui/PresenceSettings.h"

#include <QWidget>

class QCheckBox;
class QListWidget;
class QPushButton;
struct PeerContext;

// The settings window's presence tab: presence on or off, the machine's interfaces to tick
// (none ticked: every interface that is not virtual), and whether buddies are remembered
// between runs, and the identity key's reset. Loads the stored choices when made and stores each change at once, so that
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
    // Makes a new identity key after a confirmation (resetIdentityRequested).
    QPushButton *resetIdentity;

signals:
    void changed();
    void resetIdentityRequested();

private:
    void fillInterfaces();
    void takeChoices();

    PeerContext &context_;
    PresenceSettings settings_;
};
