#pragma once

#include "media/MediaBackend.h"

#include <QObject>
#include <QPointer>

class QAudioOutput;
class QMediaPlayer;
class QVideoWidget;

// The background-music player on Qt Multimedia, inside the media module. Audio goes to the
// default output; a video file opens its own window the first time it has pictures to show.
// The program makes it when the first file is opened, so the media system (its back end,
// plugins and the connection to the sound server) starts then, not with the program.
class QtMediaBackend : public QObject, public MediaBackend {
public:
    explicit QtMediaBackend(MediaBackendListener &listener);
    ~QtMediaBackend() override;

    void open(const QString &path) override;
    void play() override;
    void pause() override;
    void stop() override;
    bool playedToEnd() const override;

private:
    void showVideo(bool hasVideo);

    MediaBackendListener &listener_;
    // Children of this object, the player made first, so that it is destroyed first.
    QMediaPlayer *player_;
    QAudioOutput *audio_;
    QPointer<QVideoWidget> video_;
    // Stopped after the end: the player is back at the start, though it still reports the end
    // until its status moves on (playing again, another file).
    bool stoppedAtEnd_ = false;
};
