#include "ui/QtMediaPlayer.h"

#include <QUrl>
#include <QVideoWidget>

QtMediaPlayer::QtMediaPlayer(QObject *parent) : MediaPlayer(parent) {}

QtMediaPlayer::~QtMediaPlayer()
{
    if (player_)
        player_->setVideoOutput(nullptr);
    delete video_;
}

QMediaPlayer &QtMediaPlayer::media()
{
    if (!player_) {
        player_ = new QMediaPlayer(this);
        audio_ = new QAudioOutput(this);
        player_->setAudioOutput(audio_);
        connect(player_, &QMediaPlayer::errorOccurred, this, &QtMediaPlayer::reportError);
        connect(player_, &QMediaPlayer::hasVideoChanged, this, &QtMediaPlayer::showVideo);
    }
    return *player_;
}

void QtMediaPlayer::open(const QString &path)
{
    QMediaPlayer &player = media();
    player.stop();
    player.setSource(QUrl::fromLocalFile(path));
}

void QtMediaPlayer::play()
{
    if (player_ && !player_->source().isEmpty())
        player_->play();
}

void QtMediaPlayer::pause()
{
    if (player_)
        player_->pause();
}

void QtMediaPlayer::stop()
{
    if (player_)
        player_->stop();
}

bool QtMediaPlayer::playedToEnd() const
{
    // The backend reports the end as a status, which holds even when its last position
    // report falls a few milliseconds short of the duration.
    return player_ && player_->mediaStatus() == QMediaPlayer::EndOfMedia;
}

void QtMediaPlayer::reportError(QMediaPlayer::Error error, const QString &description)
{
    if (error == QMediaPlayer::NoError)
        return;
    // One report per failed file: the source is dropped, so nothing is left to fail again.
    player_->setSource(QUrl());
    emit failed(description);
}

void QtMediaPlayer::showVideo(bool hasVideo)
{
    if (!hasVideo)
        return;
    if (!video_) {
        video_ = new QVideoWidget;
        video_->resize(480, 360);
        player_->setVideoOutput(video_);
    }
    video_->show();
}
