// A light of the serial frame (TxD, RxD, RTS, CTS): a box filled with one
// colour and a black line round it.
//
// It paints itself, without its palette or the style: a palette change is
// resolved and sent through the widget, and four of them a second while a
// line check blinks cost more than the rest of an idle window.
#pragma once

#include <QPainter>
#include <QWidget>

namespace zelvano {

class Indicator : public QWidget {
  public:
    Indicator(const QColor& colour, QWidget* parent) : QWidget(parent), colour_(colour) {
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
        painter.setPen(Qt::black);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }

  private:
    QColor colour_;
};

}  // namespace zelvano
