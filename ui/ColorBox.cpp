#include "ui/ColorBox.h"

#include <QIconEngine>
#include <QPainter>
#include <QStylePainter>

using namespace Qt::Literals::StringLiterals;

namespace {

// A swatch icon painted on demand. An icon made from a pixmap would put its scaled pixmaps into
// Qt's pixmap cache under keys holding the new icon's identity, for every colour box ever
// shown, and the cache keeps the bookkeeping of every key for good; a painted icon caches nothing.
class SwatchEngine : public QIconEngine {
public:
    explicit SwatchEngine(const QColor &color) : color_(color) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        painter->fillRect(rect, color_);
    }
    QIconEngine *clone() const override { return new SwatchEngine(color_); }

private:
    QColor color_;
};

} // namespace

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
    for (const auto &[name, color] : colors)
        addItem(QIcon(new SwatchEngine(color)), name, color);
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
