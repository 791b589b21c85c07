#pragma once

#include <QColor>
#include <QFont>

// The look of the message windows' display panes: one font with its colour, and a
// background colour. The settings window holds the current one; a message window takes it
// when it opens and replaces it when it sends.
struct DisplayStyle {
    QFont font;
    QColor color;
    QColor background;

    // "Microsoft Sans Serif" 14 pixels high, window-text colour, no styles, on the
    // button-face colour; the nearest sans-serif face stands in where that face is missing.
    static DisplayStyle initial();
};
