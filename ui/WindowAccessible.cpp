#include "ui/WindowAccessible.h"

#include <QAccessibleWidget>
#include <QWidget>

using namespace Qt::Literals::StringLiterals;

namespace {

class PlainWindow : public QAccessibleWidget {
public:
    explicit PlainWindow(QWidget *window) : QAccessibleWidget(window, QAccessible::Window) {}

    // Asked each time: a window is given the attribute after it was made, before it shows.
    QAccessible::Role role() const override
    {
        return widget()->testAttribute(Qt::WA_ShowWithoutActivating) ? QAccessible::Notification
                                                                     : QAccessible::Window;
    }
};

// Asked with each class name of an object, most derived first: "QWidget" is reached only by
// widgets that no other class of Qt's gives an accessible kind of its own.
QAccessibleInterface *plainWindows(const QString &className, QObject *object)
{
    if (className != u"QWidget"_s || !object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    return widget->isWindow() ? new PlainWindow(widget) : nullptr;
}

} // namespace

void WindowAccessible::install() { QAccessible::installFactory(plainWindows); }
