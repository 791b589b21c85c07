#pragma once

#include <QString>

struct PeerContext;

// Where the program keeps its files. A portable copy (the executable's folder is writable and
// holds myinfo.ini) keeps everything beside the executable and saves received files relative to
// the current folder, as it always has. Any other copy, an installed one in particular, keeps
// the contact store in $XDG_CONFIG_HOME/talvino, the chat logs in $XDG_DATA_HOME/talvino/chatdat,
// offers the download folder for received files and reads readme.txt from the installed share
// folder; its own folders are made mode 0700 and the files it creates 0600.
class DataFolders {
public:
    // The choice for an executable in exeDir, made from the files there and the XDG
    // environment. Creates nothing.
    static DataFolders choose(const QString &exeDir);

    bool portable() const { return portable_; }
    // Folder of myinfo.ini.
    QString configDir() const { return configDir_; }
    // Folder that holds chatdat/.
    QString dataDir() const { return dataDir_; }
    // Folder the save dialog of a received file opens in, where "received.tmp" goes when no name
    // is chosen; empty in a portable copy (the process's current folder).
    QString downloadDir() const { return downloadDir_; }
    // Folder of readme.txt.
    QString shareDir() const { return shareDir_; }

    // Outside a portable copy: makes every file and folder the process creates from now on
    // private (umask 077: files 0600, folders 0700) and creates the missing folders (each missing
    // level mode 0700; existing ones, and the files in them, are left as they are). Returns false
    // when a folder could not be made; the windows then report the files they cannot write, as
    // in a copy whose chatdat is missing.
    bool prepare() const;

    // Points the context's folders here.
    void applyTo(PeerContext &context) const;

    // Name of the program's own folder under the XDG base folders.
    static QString folderName();

private:
    bool portable_ = true;
    QString configDir_;
    QString dataDir_;
    QString downloadDir_;
    QString shareDir_;
};
