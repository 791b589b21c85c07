#include "ui/ModuleMediaPlayer.h"

ModuleMediaPlayer::ModuleMediaPlayer(QStringList folders, QObject *parent)
    : MediaPlayer(parent), folders_(std::move(folders))
{}

void ModuleMediaPlayer::open(const QString &path)
{
    ++openings_;
    if (!backend_) {
        const MediaModule::Loaded module = MediaModule::load(folders_);
        if (!module.factory) {
            reportFailure(openings_, module.error);
            return;
        }
        backend_.reset(module.factory(this));
    }
    backend_->open(path);
}

void ModuleMediaPlayer::play()
{
    if (backend_)
        backend_->play();
}

void ModuleMediaPlayer::pause()
{
    if (backend_)
        backend_->pause();
}

void ModuleMediaPlayer::stop()
{
    if (backend_)
        backend_->stop();
}

bool ModuleMediaPlayer::playedToEnd() const { return backend_ && backend_->playedToEnd(); }

void ModuleMediaPlayer::backendFailed(const QString &description) { reportFailure(openings_, description); }

void ModuleMediaPlayer::reportFailure(quint64 opening, const QString &description)
{
    QMetaObject::invokeMethod(
        this,
        [this, opening, description] {
            if (opening == openings_)
                emit failed(description);
        },
        Qt::QueuedConnection);
}
