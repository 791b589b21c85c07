#pragma once

#include <QColor>
#include <QComboBox>

// A drop-down list of the sixteen named colours, each with a swatch; black at first.
class ColorBox : public QComboBox {
    Q_OBJECT
public:
    explicit ColorBox(QWidget *parent = nullptr);

    // The colour of the selected entry.
    QColor color() const;
};
