#pragma once

#include "ui/MediaPlayer.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QPointer>

class QVideoWidget;

// The background-music player on Qt Multimedia. Audio goes to the default output; a video
// file opens its own window the first time it has pictures to show.
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
    void reportError(QMediaPlayer::Error error, const QString &description);
    void showVideo(bool hasVideo);

    QMediaPlayer player_;
    QAudioOutput audio_;
    QPointer<QVideoWidget> video_;
};
