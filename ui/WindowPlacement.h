#pragma once

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

// Moves a top-level window to the centre of the desktop's work area.
inline void centreOnDesktop(QWidget *window)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}
