#include "media/QtMediaBackend.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>
#include <QVideoWidget>

QtMediaBackend::QtMediaBackend(MediaBackendListener &listener)
    : listener_(listener), player_(new QMediaPlayer(this)), audio_(new QAudioOutput(this))
{
    player_->setAudioOutput(audio_);
    connect(player_, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error error, const QString &description) {
                if (error == QMediaPlayer::NoError)
                    return;
                // One report per failed file: the source is dropped, so nothing is left to fail again.
                player_->setSource(QUrl());
                listener_.backendFailed(description);
            });
    connect(player_, &QMediaPlayer::hasVideoChanged, this, &QtMediaBackend::showVideo);
    connect(player_, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
        if (status != QMediaPlayer::EndOfMedia)
            stoppedAtEnd_ = false;
    });
}

QtMediaBackend::~QtMediaBackend()
{
    player_->setVideoOutput(nullptr);
    delete video_;
}

void QtMediaBackend::open(const QString &path)
{
    player_->stop();
    stoppedAtEnd_ = false;
    player_->setSource(QUrl::fromLocalFile(path));
}

void QtMediaBackend::play()
{
    if (!player_->source().isEmpty())
        player_->play();
}

void QtMediaBackend::pause() { player_->pause(); }

void QtMediaBackend::stop()
{
    player_->stop();
    if (player_->mediaStatus() == QMediaPlayer::EndOfMedia)
        stoppedAtEnd_ = true;
}

bool QtMediaBackend::playedToEnd() const
{
    // The backend reports the end as a status, which holds even when its last position
    // report falls a few milliseconds short of the duration.
    return player_->mediaStatus() == QMediaPlayer::EndOfMedia && !stoppedAtEnd_;
}

void QtMediaBackend::showVideo(bool hasVideo)
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

extern "C" Q_DECL_EXPORT MediaBackend *talvino_media_backend_v1(MediaBackendListener *listener)
{
    return new QtMediaBackend(*listener);
}
