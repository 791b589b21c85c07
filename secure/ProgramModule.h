#pragma once

#include <QString>
#include <QStringList>

// Finds and loads one of the program's modules: a shared library holding a part that needs
// large libraries of its own (the media player, TLS), so that the program does not load those
// libraries at start. The first folder that holds the module's file is the one used; a loaded
// module stays loaded for the rest of the process.
class ProgramModule {
public:
    // The module's entry point, or null with the reason in error.
    struct Loaded {
        void *entry = nullptr;
        QString error;
    };

    // Beside the executable (a build tree or a portable copy), then where an installed copy
    // keeps them (<libdir>/talvino).
    static QStringList defaultFolders();
    // Loads fileName from the first of folders that holds it and looks up entryName, the
    // versioned name of its entry point. what names the module in the error texts ("媒体模块").
    static Loaded load(const QStringList &folders, const QString &fileName, const char *entryName,
                       const QString &what);
};
