#pragma once

#include "core/IniFile.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

class Prompts;

// The contact store myinfo.ini in the peer's folder: the own nickname (kept from run to run),
// and this run's friend list (UserSection/IpSection, entries "[k]nickname") and ban list
// (BanSection). Every operation sees the file as it is now and writes straight to it, so nested
// calls made while a box stands open see each other's changes, and so does a change made by
// another program. The INI layer keeps the parsed file while it stays unchanged, so a look-up
// per datagram costs no reading or parsing. Write failures throw Exception
// "Unable to write to <path>".
class ContactStore {
public:
    ContactStore(const QString &appDir, Prompts &prompts);

    // Full path of myinfo.ini.
    QString fileName() const { return ini_.fileName(); }

    // Open and reset at start-up: erases UserSection, IpSection and BanSection (in this order)
    // and returns MainSection/Name (empty when absent).
    QString openAndReset();
    // Open at start-up keeping the buddies of the last run (the person chose to remember
    // them): erases BanSection only and returns MainSection/Name.
    QString openKeepingBuddies();
    // MainSection/Name.
    QString nickname() const;
    // MainSection/Name := name (the settings window's save).
    void setNickname(const QString &name);

    // Sender look-up: the buddy entry stored for ip (the highest number holding it), or empty
    // when ip is not a friend.
    QString senderLookup(const QString &ip) const;
    // Ban test: true when ip is in the ban list.
    bool isBanned(const QString &ip) const;

    // adduser: adds ip under nickname (raw GBK bytes as they came from the network), after an
    // information box that depends on statusFlag (1 normal, 0 secure). Refuses an ip that is
    // already a friend with "该用户已经存在！", both before and after the box. Control
    // characters in the nickname are stored as '?'. Returns true when the buddy was added; the
    // caller then rebuilds the buddy list from buddyEntries().
    bool adduser(const QByteArray &nickname, const QString &ip, quint8 statusFlag);
    // ban: appends ip to the ban list, then shows ip + "此IP地址已被屏蔽!".
    void ban(const QString &ip);

    // The buddy list as it must be shown: every non-empty entry from 1 to Count, in order.
    QStringList buddyEntries() const;
    // Entry number of a buddy-list item: the text between the first character and the first "]".
    static QString entryNumber(const QString &itemText);
    // IpSection/key and UserSection/key (empty when absent).
    QString buddyIp(const QString &key) const;
    QString buddyEntry(const QString &key) const;
    // Entry number of the buddy stored for ip (the highest holding it), or empty.
    QString buddyKey(const QString &ip) const;
    // IpSection/key := ip: the buddy of that entry is now reached at ip.
    void setBuddyIp(const QString &key, const QString &ip);
    // Delete the selected buddy: with no selection (nullopt) shows "拜托，删人也要先选择一下啦！"
    // and returns false; otherwise deletes both keys of the item's entry and returns true (the
    // caller then removes the item from the list box).
    bool deleteSelected(const std::optional<QString> &selectedItemText);

private:
    bool isFriend(const QString &ip) const;

    // What senderLookup gives for each IP of the friend list, worked out once per generation of
    // the file: a look-up per datagram then scans no list, however many friends there are.
    struct SenderIndex {
        quint64 generation = 0; // of the file it was built from; 0: never built
        QHash<QByteArray, QString> entryByIp;
    };
    mutable SenderIndex senders_;

    IniFile ini_;
    Prompts &prompts_;
};
