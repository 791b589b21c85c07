#pragma once

#include "ui/MediaPlayer.h"

#include <QStringList>

// The media player of a harness peer: plays nothing (tests need no sound, and many peers in one
// process need no audio outputs of their own), records what it was given and does what the
// test says. A file plays until finish(); Stop rewinds it, so it no longer counts as ended.
class FakeMediaPlayer : public MediaPlayer {
    Q_OBJECT
public:
    void open(const QString &path) override
    {
        opened << path;
        ended = false;
        playing = false;
    }
    void play() override { playing = !opened.isEmpty(); }
    void pause() override { playing = false; }
    void stop() override
    {
        playing = false;
        ended = false;
    }
    bool playedToEnd() const override { return ended; }

    // The open file reaches its end.
    void finish()
    {
        ended = true;
        playing = false;
    }
    // The media system cannot play the open file.
    void fail(const QString &description) { emit failed(description); }

    QStringList opened;
    bool playing = false;
    bool ended = false;
};
