// A label that reports clicks and double-clicks (the "RTS" label and the
// state cells of the buffer rows).
//
// A click is reported on release, over the label, like a button. A
// double-click is reported only as a double-click: its second press does not
// make a second click, so a toggle bound to clicked() toggles once.
#pragma once

#include <QLabel>
#include <QMouseEvent>

namespace zelvano {

class ClickLabel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;

  signals:
    void clicked();
    void doubleClicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            // Qt may deliver the double-click just before the second press
            // (same timestamp): that press belongs to the double-click.
            pressed_ = !(doubleClicked_ && event->timestamp() == doubleClickTime_);
        }
        QLabel::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && pressed_) {
            pressed_ = false;
            if (rect().contains(event->position().toPoint())) {
                emit clicked();
            }
        }
        QLabel::mouseReleaseEvent(event);
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            // The press and release around it end the double-click, not a click.
            pressed_ = false;
            doubleClicked_ = true;
            doubleClickTime_ = event->timestamp();
            emit doubleClicked();
        }
        QLabel::mouseDoubleClickEvent(event);
    }

  private:
    bool pressed_ = false;
    bool doubleClicked_ = false;
    quint64 doubleClickTime_ = 0;
};

}  // namespace zelvano
