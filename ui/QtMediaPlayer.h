#pragma once

#include "ui/MediaPlayer.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QPointer>

class QVideoWidget;

// The background-music player on Qt Multimedia. Audio goes to the default output; a video
// file opens its own window the first time it has pictures to show. The media system (its
// back end, plugins and the connection to the sound server) is started when the first file
// is opened, not when the player is made: until then there is nothing to play, pause or stop.
class QtMediaPlayer : public MediaPlayer {
    Q_OBJECT
public:
    explicit QtMediaPlayer(QObject *parent = nullptr);
    ~QtMediaPlayer() override;

    void open(const QString &path) override;
    void play() override;
    void pause() override;
    void stop() override;
    bool playedToEnd() const override;

private:
    // The media player, made on first use.
    QMediaPlayer &media();
    void reportError(QMediaPlayer::Error error, const QString &description);
    void showVideo(bool hasVideo);

    // Children of this object, the player made first, so that it is destroyed first.
    QMediaPlayer *player_ = nullptr;
    QAudioOutput *audio_ = nullptr;
    QPointer<QVideoWidget> video_;
};
