#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

// A pane on a background colour of our own also gets the text colour that reads on it, so that
// it reads under a light and a dark palette alike (the theme's text colour is meant for the
// theme's background).
inline void setPaneColors(QWidget *pane, const QColor &background, const QColor &text = Qt::black)
{
    QPalette palette = pane->palette();
    palette.setColor(QPalette::Base, background);
    palette.setColor(QPalette::Text, text);
    pane->setPalette(palette);
}
