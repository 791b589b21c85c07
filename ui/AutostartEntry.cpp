#include "ui/AutostartEntry.h"

#include "net/Exceptions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

using namespace Qt::Literals::StringLiterals;

AutostartEntry::AutostartEntry(const QString &configHome, const QString &program)
    : configHome_(configHome), program_(program)
{}

AutostartEntry AutostartEntry::forThisProgram()
{
    return {QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
            QCoreApplication::applicationFilePath()};
}

QString AutostartEntry::path() const { return configHome_ + u"/autostart/talvino.desktop"_s; }

bool AutostartEntry::enabled() const { return QFileInfo::exists(path()); }

void AutostartEntry::setEnabled(bool on) const
{
    if (!on) {
        if (enabled() && !QFile::remove(path()))
            throw Exception(u"Cannot delete file "_s + path());
        return;
    }
    QSaveFile file(path());
    const bool written = QDir().mkpath(QFileInfo(path()).path()) && file.open(QIODevice::WriteOnly)
        && file.write(contents()) == contents().size() && file.commit();
    if (!written)
        throw Exception(u"Cannot create file "_s + path());
}

QByteArray AutostartEntry::contents() const
{
    const QString text = u"[Desktop Entry]\n"
                         u"Type=Application\n"
                         u"Name=Talvino\n"
                         u"Name[zh_CN]=Talvino 局域网聊天\n"
                         u"Comment=Start the LAN messenger in the tray at login\n"
                         u"Comment[zh_CN]=登录时启动，隐藏在系统托盘中\n"
                         u"Icon=talvino\n"
                         u"Exec="_s
        + execArgument(program_) + u" "_s + hiddenFlag()
        + u"\n"
          u"Terminal=false\n"
          u"X-GNOME-Autostart-enabled=true\n"_s;
    return text.toUtf8();
}

QString AutostartEntry::execArgument(const QString &program)
{
    static const QString reserved = u" \t\n\"'\\><~|&;$*?#()`"_s;
    QString argument = program;
    const bool quoted = std::any_of(argument.cbegin(), argument.cend(), [](QChar c) { return reserved.contains(c); });
    if (quoted) {
        QString inner;
        for (const QChar c : argument) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                inner += u'\\';
            inner += c;
        }
        argument = u"\""_s + inner + u"\""_s;
    }
    argument.replace(u"%"_s, u"%%"_s);
    // The Exec value is a string value: its own escapes come last.
    argument.replace(u"\\"_s, u"\\\\"_s);
    argument.replace(u"\n"_s, u"\\n"_s).replace(u"\t"_s, u"\\t"_s);
    return argument;
}
