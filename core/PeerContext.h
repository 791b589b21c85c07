#pragma once

#include <QString>

class Prompts;
class ErrorReporter;
class FileDialogs;
class FontDialog; // ui/Dialogs.h: core only carries the pointer for the windows

// What one running peer is given from outside: where its files live, which address its
// sockets bind, and how it talks to the user. Two peers in one test process each have
// their own context.
struct PeerContext {
    // Folder of myinfo.ini (see DataFolders for the program's choice).
    QString configDir;
    // Folder that holds chatdat/, the chat logs and the chat-room transcript.
    QString dataDir;
    // Folder the save dialog of a received file opens in and where "received.tmp" goes when no
    // name is chosen; empty: the process's current folder.
    QString downloadDir;
    // Folder of readme.txt.
    QString shareDir;
    // Address the datagram endpoint and the stream listeners bind.
    QString bindAddress = QStringLiteral("0.0.0.0");
    Prompts *prompts = nullptr;
    // The file dialogs and the font dialog; usually the same object as prompts.
    FileDialogs *dialogs = nullptr;
    FontDialog *fontDialog = nullptr;
    ErrorReporter *reporter = nullptr;

    // All files in one folder, as in a portable copy; received files relative to the current folder.
    void keepFilesIn(const QString &dir) { configDir = dataDir = shareDir = dir; }
    // name in the download folder (as it stands, so relative to the current folder, when none is set).
    QString inDownloads(const QString &name) const
    {
        return downloadDir.isEmpty() ? name : downloadDir + QLatin1Char('/') + name;
    }
};
