#include "ui/DisplayStyle.h"

#include <QGuiApplication>
#include <QPalette>

using namespace Qt::Literals::StringLiterals;

DisplayStyle DisplayStyle::initial()
{
    DisplayStyle style;
    style.font.setFamilies({u"Microsoft Sans Serif"_s, u"DejaVu Sans"_s, u"WenQuanYi Micro Hei"_s});
    style.font.setStyleHint(QFont::SansSerif);
    style.font.setPixelSize(14);
    const QPalette palette = QGuiApplication::palette();
    style.color = palette.color(QPalette::WindowText);
    style.background = palette.color(QPalette::Button);
    return style;
}
