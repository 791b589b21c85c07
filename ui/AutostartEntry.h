#pragma once

#include <QByteArray>
#include <QString>

// The XDG autostart entry that starts the program at login, hidden in the tray:
// <config home>/autostart/talvino.desktop, whose Exec line runs the program with
// HiddenFlag. The entry exists while the option is on; turning it off removes it.
class AutostartEntry {
public:
    // The command-line flag of a start at login: the main window starts hidden in the tray
    // (shown where the desktop has no tray).
    static QString hiddenFlag() { return QStringLiteral("--tray"); }

    // configHome: $XDG_CONFIG_HOME (~/.config); program: the executable's path.
    AutostartEntry(const QString &configHome, const QString &program);
    // The user's config home and this executable.
    static AutostartEntry forThisProgram();

    QString path() const;
    bool enabled() const;
    // Writes or removes the entry. Throws Exception "Cannot create file <path>" when it cannot
    // be written, "Cannot delete file <path>" when it cannot be removed.
    void setEnabled(bool on) const;

    // The entry's text.
    QByteArray contents() const;
    // program as one argument of an Exec line: quoted where it holds a reserved character,
    // with the escapes of the desktop entry format ("%" doubled, backslashes doubled as a
    // string value needs).
    static QString execArgument(const QString &program);

private:
    QString configHome_;
    QString program_;
};
