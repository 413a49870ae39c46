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
        // The line as a black fill under the colour: the same pixels as a
        // pen's outline, without a pen's stroking.
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        painter.fillRect(rect().adjusted(1, 1, -1, -1), colour_);
    }

  private:
    QColor colour_;
};

}  // namespace zelvano
