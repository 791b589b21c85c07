// Fuzz target: the INI layer and the contact store over an arbitrary myinfo.ini. The input is
// the file as found on disk; the target then adds buddies (a fixed one, one under the file's
// own nickname, one whose nickname tries to add lines), bans, deletes, resets and renames
// through ContactStore, and checks after each step that what was written reads back and that
// nothing else changed.
#include "core/ContactStore.h"
#include "core/Gbk.h"
#include "core/IniFile.h"
#include "fuzz/FuzzSupport.h"
#include "net/Exceptions.h"
#include "tests/support/ScriptedPrompts.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

using namespace Qt::Literals::StringLiterals;
using FuzzSupport::require;

namespace {

const QString UserSection = u"UserSection"_s;
const QString IpSection = u"IpSection"_s;
const QString BanSection = u"BanSection"_s;
const QString Count = u"Count"_s;

// One store in one folder for the whole run; each input replaces the file.
struct Harness {
    QString folder = FuzzSupport::scratchFolder();
    ScriptedPrompts prompts;
    ContactStore store{folder, prompts};
    IniFile ini{store.fileName()};

    QByteArray file() const
    {
        QFile f(store.fileName());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void setFile(const QByteArray &bytes) const
    {
        QFile f(store.fileName());
        require(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size(),
                u"cannot write the input file"_s);
    }
    QString lastShown() const { return prompts.shown.isEmpty() ? QString() : prompts.shown.last().text; }
};

// What a stored value reads back as: control characters made '?', blanks around it removed.
QByteArray storedForm(const QByteArray &value)
{
    QByteArray stored = IniFile::withoutControlCharacters(value);
    qsizetype begin = 0, end = stored.size();
    while (begin < end && (stored[begin] == ' ' || stored[begin] == '\t'))
        ++begin;
    while (end > begin && (stored[end - 1] == ' ' || stored[end - 1] == '\t'))
        --end;
    return stored.mid(begin, end - begin);
}

// A count as it reads back: absent or no number counts as none.
qint64 countOf(const Harness &h, const QString &section)
{
    return qMax(0, h.ini.readInteger(section, Count));
}

// The number after count: 1 after the largest int, which has no successor that reads back.
qint64 next(qint64 count) { return count == std::numeric_limits<int>::max() ? 1 : count + 1; }

// Addresses of the file's own lists that look like what the network gives (dotted digits),
// so that adding and banning also meet addresses that are already listed.
QStringList addressesIn(const IniFile::Contents &contents)
{
    static const QRegularExpression dotted(u"^[0-9.]{1,15}$"_s);
    QStringList found;
    for (const QString &section : {IpSection, BanSection}) {
        for (const auto &[number, value] : contents.numberedValues(section, 1000000)) {
            const QString ip = QString::fromLatin1(value);
            if (dotted.match(ip).hasMatch() && !found.contains(ip)) {
                found << ip;
                break;
            }
        }
    }
    return found;
}

void checkAdd(Harness &h, const QByteArray &nickname, const QString &ip, quint8 status,
              QList<std::pair<QString, QString>> &added)
{
    const QByteArray before = h.file();
    const qint64 count = countOf(h, UserSection);
    const QString what = u" (adding "_s + ip + u")"_s;
    if (!h.store.adduser(nickname, ip, status)) {
        require(h.file() == before, u"a refused buddy changed the file"_s + what);
        require(h.lastShown() == u"该用户已经存在！"_s,
                u"a buddy was refused without the duplicate box"_s + what);
        return;
    }
    // The new number is the one Count now reads as: one more than before, or 1 when the old
    // Count had no successor.
    const qint64 k = countOf(h, UserSection);
    require(k == next(count), u"Count does not read back as the next number"_s + what);
    const QByteArray entry = storedForm('[' + QByteArray::number(k) + ']' + nickname);
    require(h.ini.readString(UserSection, QString::number(k)) == entry,
            u"the entry does not read back"_s + what);
    require(h.store.buddyIp(QString::number(k)) == ip, u"the address does not read back"_s + what);
    require(h.store.senderLookup(ip) == Gbk::decode(entry),
            u"the new buddy is not found by its address"_s + what);
    const QStringList entries = h.store.buddyEntries();
    require(!entries.isEmpty() && entries.last() == Gbk::decode(entry),
            u"the new buddy is not last in the list"_s + what);
    added.append({Gbk::decode(entry), ip});
}

void checkBan(Harness &h, const QString &ip)
{
    const qint64 count = countOf(h, BanSection);
    h.store.ban(ip);
    const qint64 k = countOf(h, BanSection);
    require(k == next(count), u"the ban Count does not read back as the next number"_s);
    require(h.ini.readString(BanSection, QString::number(k)) == ip.toLatin1(),
            u"the banned address does not read back"_s);
    require(h.store.isBanned(ip), u"a banned address is not banned: "_s + ip);
}

void checkDelete(Harness &h, const QString &entry, const QString &ip)
{
    const QString key = ContactStore::entryNumber(entry);
    require(h.store.deleteSelected(entry), u"a selected buddy was not deleted"_s);
    require(h.store.buddyEntry(key).isEmpty(), u"a deleted entry still reads: "_s + key);
    require(h.store.buddyIp(key).isEmpty(), u"a deleted address still reads: "_s + key);
    require(h.store.senderLookup(ip) != entry, u"a deleted buddy is still found by its address: "_s + ip);
}

void run(Harness &h, const QByteArray &input)
{
    h.prompts.shown.clear();
    h.setFile(input);
    const QString name = h.store.nickname();
    const IniFile::Contents contents = h.ini.contents();

    QList<std::pair<QString, QString>> added;
    checkAdd(h, Gbk::encode(u"小明"_s), u"192.168.0.5"_s, 1, added);
    checkAdd(h, "\r\n[MainSection]\r\nName=evil\t ", u"192.168.0.6"_s, 0, added);
    checkAdd(h, contents.value(u"MainSection"_s, u"Name"_s).value_or(QByteArray()), u"192.168.0.5"_s, 0,
             added);
    const QStringList listed = addressesIn(contents);
    for (const QString &ip : listed)
        checkAdd(h, Gbk::encode(ip), ip, 1, added);
    require(h.store.nickname() == name, u"adding buddies changed the nickname"_s);

    checkBan(h, u"10.0.0.9"_s);
    for (const QString &ip : listed)
        checkBan(h, ip);

    require(!h.store.deleteSelected(std::nullopt), u"deleting nothing reported a deletion"_s);
    for (const auto &[entry, ip] : added)
        checkDelete(h, entry, ip);
    require(h.store.nickname() == name, u"banning or deleting changed the nickname"_s);

    require(h.store.openAndReset() == name, u"the reset changed the nickname"_s);
    const IniFile::Contents reset = h.ini.contents();
    for (const QString &section : {UserSection, IpSection, BanSection})
        require(!reset.value(section, Count) && reset.numberedValues(section, 1000000).isEmpty(),
                u"the reset left entries in "_s + section);

    const QString newName = Gbk::decode(input.left(24));
    h.store.setNickname(newName);
    require(h.store.nickname() == Gbk::decode(storedForm(Gbk::encode(newName))),
            u"the nickname does not read back"_s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Harness harness;
    try {
        run(harness, FuzzSupport::input(data, size));
    } catch (const Exception &e) {
        FuzzSupport::fail(u"the store raised: "_s + e.message());
    }
    return 0;
}
