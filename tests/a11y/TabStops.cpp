#include "tests/a11y/TabStops.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

QRect inWindow(const QWidget *control, const QWidget *window)
{
    return QRect(control->mapTo(window, QPoint(0, 0)), control->size());
}

// The part of the control that its parents leave room for; empty when none.
QRect room(const QWidget *control, const QWidget *window)
{
    QRect shown = inWindow(control, window);
    for (const QWidget *parent = control->parentWidget(); parent && parent != window;
         parent = parent->parentWidget())
        shown &= inWindow(parent, window);
    return shown;
}

// The widget that takes the focus when control is given it.
QWidget *focusTaker(QWidget *control)
{
    while (control->focusProxy())
        control = control->focusProxy();
    return control;
}

} // namespace

QList<QWidget *> TabStops::of(QWidget *window)
{
    QList<QWidget *> stops;
    for (QWidget *control : window->findChildren<QWidget *>()) {
        if (control->window() != window || !control->isVisibleTo(window) || !control->isEnabled()
            || !(control->focusPolicy() & Qt::TabFocus) || room(control, window).isEmpty())
            continue;
        QWidget *taker = focusTaker(control);
        if (!stops.contains(taker))
            stops << taker;
    }
    return stops;
}

QList<QWidget *> TabStops::inReadingOrder(QList<QWidget *> controls)
{
    if (controls.isEmpty())
        return controls;
    QWidget *window = controls.first()->window();
    const auto top = [&](const QWidget *w) { return inWindow(w, window).top(); };
    const auto left = [&](const QWidget *w) { return inWindow(w, window).left(); };
    std::stable_sort(controls.begin(), controls.end(),
                     [&](QWidget *a, QWidget *b) { return top(a) < top(b); });
    QList<QWidget *> ordered;
    qsizetype lineStart = 0;
    for (qsizetype i = 1; i <= controls.size(); ++i) {
        const bool sameLine = i < controls.size()
            && top(controls[i]) - top(controls[lineStart])
                < std::min(controls[i]->height(), controls[lineStart]->height()) / 2;
        if (sameLine)
            continue;
        QList<QWidget *> line = controls.mid(lineStart, i - lineStart);
        std::stable_sort(line.begin(), line.end(), [&](QWidget *a, QWidget *b) { return left(a) < left(b); });
        ordered << line;
        lineStart = i;
    }
    return ordered;
}

QList<QWidget *> TabStops::walk(QWidget *window, const QList<QWidget *> &stops)
{
    QList<QWidget *> visited;
    if (stops.isEmpty())
        return visited;
    stops.first()->setFocus(Qt::TabFocusReason);
    if (!QTest::qWaitFor([&] { return QApplication::focusWidget() == stops.first(); }, 2000))
        return visited;
    for (qsizetype step = 0; step < 2 * stops.size(); ++step) {
        QWidget *from = QApplication::focusWidget();
        QTest::keyClick(from ? from : window, Qt::Key_Tab);
        QWidget *now = QApplication::focusWidget();
        visited << now;
        if (now == stops.first() || !now)
            break;
    }
    return visited;
}

QString TabStops::describe(const QWidget *control)
{
    if (!control)
        return u"(nothing)"_s;
    QString text;
    if (const auto *button = qobject_cast<const QAbstractButton *>(control))
        text = button->text();
    else if (const auto *edit = qobject_cast<const QLineEdit *>(control))
        text = edit->text();
    if (text.isEmpty())
        text = control->accessibleName();
    return QString::fromLatin1(control->metaObject()->className()) + u' ' + control->objectName() + u" \""_s
        + text + u'"';
}
