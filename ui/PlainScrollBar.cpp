#include "ui/PlainScrollBar.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QStyleOptionSlider>

PlainScrollBar::PlainScrollBar(Qt::Orientation orientation, QWidget *parent) : QScrollBar(orientation, parent)
{}

void PlainScrollBar::install(QAbstractScrollArea *area)
{
    area->setVerticalScrollBar(new PlainScrollBar(Qt::Vertical));
    area->setHorizontalScrollBar(new PlainScrollBar(Qt::Horizontal));
}

void PlainScrollBar::initStyleOption(QStyleOptionSlider *option) const
{
    QScrollBar::initStyleOption(option);
    const QPalette::ColorGroup group = option->palette.currentColorGroup();
    option->palette = QApplication::palette(this);
    option->palette.setCurrentColorGroup(group);
}
