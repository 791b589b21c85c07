#include "ui/ColorBox.h"

#include <QPixmap>
#include <QStylePainter>

using namespace Qt::Literals::StringLiterals;

ColorBox::ColorBox(QWidget *parent) : QComboBox(parent)
{
    const std::pair<QString, QColor> colors[] = {
        {u"Black"_s, QColor(0, 0, 0)},        {u"Maroon"_s, QColor(128, 0, 0)},
        {u"Green"_s, QColor(0, 128, 0)},      {u"Olive"_s, QColor(128, 128, 0)},
        {u"Navy"_s, QColor(0, 0, 128)},       {u"Purple"_s, QColor(128, 0, 128)},
        {u"Teal"_s, QColor(0, 128, 128)},     {u"Gray"_s, QColor(128, 128, 128)},
        {u"Silver"_s, QColor(192, 192, 192)}, {u"Red"_s, QColor(255, 0, 0)},
        {u"Lime"_s, QColor(0, 255, 0)},       {u"Yellow"_s, QColor(255, 255, 0)},
        {u"Blue"_s, QColor(0, 0, 255)},       {u"Fuchsia"_s, QColor(255, 0, 255)},
        {u"Aqua"_s, QColor(0, 255, 255)},     {u"White"_s, QColor(255, 255, 255)},
    };
    for (const auto &[name, color] : colors) {
        QPixmap swatch(24, 12);
        swatch.fill(color);
        addItem(QIcon(swatch), name, color);
    }
    setIconSize(QSize(24, 12));
    setCurrentIndex(0);
}

QColor ColorBox::color() const { return currentData().value<QColor>(); }

void ColorBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}
