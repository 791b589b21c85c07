#pragma once

#include <QString>
#include <QStringList>

// The person's presence choices, kept from run to run in a section of their own in
// myinfo.ini (PresenceSection), beside the keys the contact store keeps there: presence on or
// off, the interfaces it uses (none named: every usable one that is not virtual) and whether
// the buddy list is remembered between runs.
struct PresenceSettings {
    bool enabled = true;
    QStringList interfaces;
    bool rememberBuddies = false;

    // The choices stored in folder's myinfo.ini; the defaults where none are stored.
    static PresenceSettings load(const QString &folder);
    // Stores the choices; throws Exception "Unable to write to <path>" like every INI write.
    void save(const QString &folder) const;

    friend bool operator==(const PresenceSettings &, const PresenceSettings &) = default;
};
