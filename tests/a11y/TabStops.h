#pragma once

#include <QList>
#include <QWidget>

// The controls of a window that Tab should reach, and the order a person reads them in.
namespace TabStops {

// Every control of window (not of its child windows) that is shown with room to be seen,
// enabled and taking focus by Tab; one that hands its focus to another counts as that one.
QList<QWidget *> of(QWidget *window);

// controls in reading order: by lines from top to bottom (controls whose tops lie within half
// the lower one's height are on one line), each line from left to right.
QList<QWidget *> inReadingOrder(QList<QWidget *> controls);

// Where Tab goes, from the first control on, until it comes back there or has gone twice as
// many steps as there are stops: the focused controls in turn, the first one last.
QList<QWidget *> walk(QWidget *window, const QList<QWidget *> &stops);

// A control by its object name, class and text, for failure messages.
QString describe(const QWidget *control);

} // namespace TabStops
