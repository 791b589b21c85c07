#pragma once

#include <QString>

// What the media module's player tells the program: why the open file cannot be played.
// Called on the GUI thread; the player has dropped the file by then.
class MediaBackendListener {
public:
    virtual void backendFailed(const QString &description) = 0;

protected:
    ~MediaBackendListener() = default;
};

// The background-music player inside the media module, as the program drives it. Only pure
// virtual functions and Qt Core value types cross between the program and the module, so the
// module needs no symbol of the program, and the program links no media library.
class MediaBackend {
public:
    virtual ~MediaBackend() = default;

    // Stops whatever is open and gives the file to the player. Does not start playing.
    virtual void open(const QString &path) = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    // Stops and goes back to the start of the open file.
    virtual void stop() = 0;
    // True when the open file has played to its end.
    virtual bool playedToEnd() const = 0;
};

// The module's one entry point: makes a player that reports to listener, which outlives it.
// The version is in the name, so that a module built for another interface is not used. The
// program never calls it directly: it looks the name up in the module it loaded.
extern "C" MediaBackend *talvino_media_backend_v1(MediaBackendListener *listener);
inline constexpr char MediaBackendFactoryName[] = "talvino_media_backend_v1";
using MediaBackendFactory = decltype(&talvino_media_backend_v1);
