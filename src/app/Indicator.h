// A light of the serial frame (TxD, RxD, RTS, CTS): a box filled with one
// colour and a black line round it.
//
// It paints its colour itself instead of through its palette: a palette
// change is resolved and sent through the widget, and four of them a second
// while a line check blinks cost more than the rest of an idle window.
#pragma once

#include <QFrame>
#include <QPainter>

namespace zelvano {

class Indicator : public QFrame {
  public:
    Indicator(const QColor& colour, QWidget* parent) : QFrame(parent), colour_(colour) {
        setFrameShape(QFrame::Box);
        setLineWidth(1);
        QPalette line = palette();
        line.setColor(QPalette::WindowText, Qt::black);
        setPalette(line);
        setAttribute(Qt::WA_OpaquePaintEvent);  // nothing behind it shows
    }

    const QColor& Colour() const { return colour_; }
    void SetColour(const QColor& colour) {
        if (colour != colour_) {
            colour_ = colour;
            update();
        }
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), colour_);
        drawFrame(&painter);
    }

  private:
    QColor colour_;
};

}  // namespace zelvano
