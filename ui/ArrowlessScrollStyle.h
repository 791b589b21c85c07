#pragma once

#include <QProxyStyle>

// The application's style, but a scroll bar drawn in it has no arrow buttons: its groove and
// thumb take its whole length. A box only a few lines high then still shows a thumb, where
// the arrows would leave too little room for one.
class ArrowlessScrollStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Wraps the application's style; owned by parent.
    explicit ArrowlessScrollStyle(QObject *parent);

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl part,
                         const QWidget *widget) const override;
};
