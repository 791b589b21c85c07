#pragma once

#include <QObject>
#include <QString>

// The background-music player as the settings window uses it: one open file at a time,
// Play, Pause and Stop, and whether the open file has played to its end (the player does
// not rewind). A file it cannot open or play is reported once through failed(), after which
// the player has no open file.
class MediaPlayer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Gives the file to the player; it is then the open file. Does not start playing.
    virtual void open(const QString &path) = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    // Stops and goes back to the start of the open file, which then no longer counts as ended.
    virtual void stop() = 0;
    // True when the open file's position has reached its length.
    virtual bool playedToEnd() const = 0;

signals:
    // The media system's description of why the open file cannot be played.
    void failed(const QString &description);
};
