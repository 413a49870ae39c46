// One line of the main window's screen log: a read-only text box that, when
// its text changes, repaints only the stretch of text that changed.
//
// A new log line moves the text of all ten boxes, so the boxes are the
// costliest thing an idle window draws. Lines mostly share their start (the
// time, "Test ESPA connection ") and their end, so a box repaints the part
// between, inside its frame; with the Fusion style such a repaint fills the
// inside with the box's base colour instead of drawing the whole frame,
// which is all the style would have drawn there.
#pragma once

#include <QLineEdit>

namespace zelvano {

class LogBox : public QLineEdit {
  public:
    explicit LogBox(QWidget* parent);

    // Shows the text from its start, the way the box's own setText would
    // show it, repainting only what changed where it can.
    void SetText(const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    QRect Inside() const;

    // Where the text set last ends (its cursor's right edge), -1 when unknown.
    int textEnd_ = -1;
};

}  // namespace zelvano
