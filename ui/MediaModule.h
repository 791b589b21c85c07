#pragma once

#include "media/MediaBackend.h"

#include <QStringList>

// Finds and loads the media module, the shared library that holds the player on Qt Multimedia,
// so that the program itself links no media library. The first folder that holds the module's
// file is the one used. A loaded module stays loaded for the rest of the process.
class MediaModule {
public:
    // The module's factory, or null with the reason in error.
    struct Loaded {
        MediaBackendFactory factory = nullptr;
        QString error;
    };

    // The module's file name (talvino-media.so).
    static QString fileName();
    // Beside the executable (a build tree or a portable copy), then where an installed copy
    // keeps it (<libdir>/talvino).
    static QStringList defaultFolders();
    static Loaded load(const QStringList &folders);
};
