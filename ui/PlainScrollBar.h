#pragma once

#include <QScrollBar>

class QAbstractScrollArea;

// A scroll bar drawn in the application's palette, whatever palette its scroll area has.
//
// The style caches the pixmaps of a scroll bar under keys holding the identity of the palette
// it is drawn in, and a pane with colours of its own hands its scroll bars a palette whose
// identity is new in every window. Qt's pixmap cache, even once it has evicted a pixmap, keeps
// the bookkeeping of every key ever inserted, so each message window shown would leave some
// hundred bytes behind for good. In the application's palette every window uses the same keys.
class PlainScrollBar : public QScrollBar {
    Q_OBJECT
public:
    explicit PlainScrollBar(Qt::Orientation orientation, QWidget *parent = nullptr);

    // Gives area plain scroll bars on both axes (its scroll-bar policies are kept).
    static void install(QAbstractScrollArea *area);

protected:
    void initStyleOption(QStyleOptionSlider *option) const override;
};
