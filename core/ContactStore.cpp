#include "core/ContactStore.h"

#include "core/Gbk.h"
#include "core/Prompts.h"

#include <QDir>

#include <algorithm>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString MainSection = u"MainSection"_s;
const QString UserSection = u"UserSection"_s;
const QString IpSection = u"IpSection"_s;
const QString BanSection = u"BanSection"_s;
const QString CountKey = u"Count"_s;

QString key(qint64 number) { return QString::number(number); }

// A Count key; a negative value (only a hand-edited file has one) counts as none.
qint64 countIn(const IniFile::Contents &contents, const QString &section)
{
    return std::max<qint64>(0, contents.integer(section, CountKey));
}

// The number after a Count. After the largest int (only a hand-edited file has it) the
// numbers start again at 1: a larger Count would not read back as a number.
qint64 nextNumber(qint64 count) { return count >= std::numeric_limits<int>::max() ? 1 : count + 1; }

// Whether ip is stored in section under a number from 1 to the Count of countSection.
bool listed(const IniFile::Contents &contents, const QString &countSection, const QString &section,
            const QString &ip)
{
    const QByteArray wanted = Gbk::encode(ip);
    for (const auto &entry : contents.numberedValues(section, countIn(contents, countSection)))
        if (entry.second == wanted)
            return true;
    return false;
}

} // namespace

ContactStore::ContactStore(const QString &appDir, Prompts &prompts)
    : ini_(QDir(appDir).filePath(u"myinfo.ini"_s)), prompts_(prompts)
{}

QString ContactStore::openAndReset()
{
    ini_.eraseSection(UserSection);
    ini_.eraseSection(IpSection);
    ini_.eraseSection(BanSection);
    return nickname();
}

QString ContactStore::openKeepingBuddies()
{
    ini_.eraseSection(BanSection);
    return nickname();
}

QString ContactStore::nickname() const { return Gbk::decode(ini_.readString(MainSection, u"Name"_s)); }

void ContactStore::setNickname(const QString &name)
{
    ini_.writeString(MainSection, u"Name"_s, Gbk::encode(name));
}

QString ContactStore::senderLookup(const QString &ip) const
{
    const IniFile::Contents contents = ini_.contents();
    if (senders_.generation != ini_.generation()) {
        const qint64 count = countIn(contents, UserSection);
        QHash<qint64, QByteArray> entries;
        for (const auto &[number, entry] : contents.numberedValues(UserSection, count))
            entries.insert(number, entry);
        senders_.entryByIp.clear();
        // In ascending order: the highest number holding an IP wins.
        for (const auto &[number, storedIp] : contents.numberedValues(IpSection, count))
            senders_.entryByIp.insert(storedIp, Gbk::decode(entries.value(number)));
        senders_.generation = ini_.generation();
    }
    return senders_.entryByIp.value(Gbk::encode(ip));
}

QString ContactStore::buddyKey(const QString &ip) const
{
    const IniFile::Contents contents = ini_.contents();
    const QByteArray wanted = Gbk::encode(ip);
    qint64 found = 0;
    // The highest number holding ip wins, should an IP ever stand under several numbers.
    for (const auto &[number, value] : contents.numberedValues(IpSection, countIn(contents, UserSection)))
        if (value == wanted)
            found = number;
    return found == 0 ? QString() : key(found);
}

void ContactStore::setBuddyIp(const QString &key, const QString &ip)
{
    ini_.writeString(IpSection, key, Gbk::encode(ip));
}

bool ContactStore::isBanned(const QString &ip) const
{
    return listed(ini_.contents(), BanSection, BanSection, ip);
}

bool ContactStore::isFriend(const QString &ip) const
{
    return listed(ini_.contents(), UserSection, IpSection, ip);
}

bool ContactStore::adduser(const QByteArray &nickname, const QString &ip, quint8 statusFlag)
{
    if (isFriend(ip)) {
        prompts_.information(u"该用户已经存在！"_s);
        return false;
    }
    prompts_.information(statusFlag == 1 ? ip + u"将您添加为好友，系统自动将其加入好友列表！"_s
                                         : u"添加好友成功！"_s);
    // While the box stood open, a nested request may have added the same IP: store it once.
    if (isFriend(ip)) {
        prompts_.information(u"该用户已经存在！"_s);
        return false;
    }
    // Count is read after the box, so nested additions get distinct numbers.
    const qint64 k = nextNumber(countIn(ini_.contents(), UserSection));
    ini_.writeInteger(UserSection, CountKey, k);
    ini_.writeString(UserSection, key(k), '[' + QByteArray::number(k) + ']' + nickname);
    ini_.writeString(IpSection, key(k), Gbk::encode(ip));
    return true;
}

void ContactStore::ban(const QString &ip)
{
    const qint64 k = nextNumber(countIn(ini_.contents(), BanSection));
    ini_.writeInteger(BanSection, CountKey, k);
    ini_.writeString(BanSection, key(k), Gbk::encode(ip));
    prompts_.information(ip + u"此IP地址已被屏蔽!"_s);
}

QStringList ContactStore::buddyEntries() const
{
    const IniFile::Contents contents = ini_.contents();
    QStringList entries;
    for (const auto &entry : contents.numberedValues(UserSection, countIn(contents, UserSection)))
        if (!entry.second.isEmpty())
            entries << Gbk::decode(entry.second);
    return entries;
}

QString ContactStore::entryNumber(const QString &itemText)
{
    const QString rest = itemText.mid(1);
    const qsizetype close = rest.indexOf(u']');
    return close < 0 ? rest : rest.left(close);
}

QString ContactStore::buddyIp(const QString &key) const
{
    return Gbk::decode(ini_.readString(IpSection, key));
}

QString ContactStore::buddyEntry(const QString &key) const
{
    return Gbk::decode(ini_.readString(UserSection, key));
}

bool ContactStore::deleteSelected(const std::optional<QString> &selectedItemText)
{
    if (!selectedItemText) {
        prompts_.information(u"拜托，删人也要先选择一下啦！"_s);
        return false;
    }
    const QString key = entryNumber(*selectedItemText);
    ini_.deleteKey(UserSection, key);
    ini_.deleteKey(IpSection, key);
    return true;
}
