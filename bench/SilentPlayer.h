#pragma once

#include "ui/MediaPlayer.h"

// The background-music player of a benchmark peer: plays nothing. Benchmarks measure the
// datagram and file roads, and many peers in one process need no audio outputs of their own.
class SilentPlayer : public MediaPlayer {
    Q_OBJECT
public:
    void open(const QString &) override {}
    void play() override {}
    void pause() override {}
    void stop() override {}
    bool playedToEnd() const override { return false; }
};
