#pragma once

#include <QColor>
#include <QComboBox>

// A drop-down list of the sixteen named colours, black at first. The list shows each colour's
// swatch and name; the closed box shows the chosen swatch only, so that it fits a toolbar.
class ColorBox : public QComboBox {
    Q_OBJECT
public:
    explicit ColorBox(QWidget *parent = nullptr);

    // The colour of the selected entry.
    QColor color() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
