#pragma once

#include "media/MediaBackend.h"
#include "ui/MediaModule.h"
#include "ui/MediaPlayer.h"

#include <memory>

// The background-music player of the settings window: loads the media module when the first
// file is opened and hands every call to the module's player, so no media library is in the
// process before then and Play, Pause and Stop do nothing. A module that cannot be loaded is
// reported like a file that cannot be played, and the next file opened tries again. Failures
// reach failed() from the event loop, never inside open(), and only for the file still open.
class ModuleMediaPlayer : public MediaPlayer, private MediaBackendListener {
    Q_OBJECT
public:
    // folders: where to look for the module, in order.
    explicit ModuleMediaPlayer(QStringList folders = MediaModule::defaultFolders(), QObject *parent = nullptr);

    void open(const QString &path) override;
    void play() override;
    void pause() override;
    void stop() override;
    bool playedToEnd() const override;

private:
    void backendFailed(const QString &description) override;
    // Reports the failure of the file opened as number `opening` once control is back in the
    // event loop, unless another file has been opened since.
    void reportFailure(quint64 opening, const QString &description);

    QStringList folders_;
    std::unique_ptr<MediaBackend> backend_;
    quint64 openings_ = 0;
};
