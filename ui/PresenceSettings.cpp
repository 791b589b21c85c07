#include "ui/PresenceSettings.h"

#include "core/IniFile.h"

#include <QDir>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString Section = u"PresenceSection"_s;
const QString EnabledKey = u"Enabled"_s;
const QString InterfacesKey = u"Interfaces"_s;
const QString RememberKey = u"RememberBuddies"_s;

IniFile fileIn(const QString &folder) { return IniFile(QDir(folder).filePath(u"myinfo.ini"_s)); }

} // namespace

PresenceSettings PresenceSettings::load(const QString &folder)
{
    const IniFile::Contents contents = fileIn(folder).contents();
    PresenceSettings settings;
    settings.enabled = contents.integer(Section, EnabledKey, 1) != 0;
    settings.rememberBuddies = contents.integer(Section, RememberKey, 0) != 0;
    // Interface names are ASCII; anything else in a hand-edited file names no interface.
    const QString names = QString::fromLatin1(contents.value(Section, InterfacesKey).value_or(QByteArray()));
    for (const QString &name : names.split(u',', Qt::SkipEmptyParts))
        if (!name.trimmed().isEmpty())
            settings.interfaces << name.trimmed();
    return settings;
}

void PresenceSettings::save(const QString &folder) const
{
    IniFile file = fileIn(folder);
    file.writeInteger(Section, EnabledKey, enabled ? 1 : 0);
    file.writeString(Section, InterfacesKey, interfaces.join(u',').toLatin1());
    file.writeInteger(Section, RememberKey, rememberBuddies ? 1 : 0);
}
