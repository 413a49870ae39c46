// One line of the main window's screen log: a read-only text box that, when
// its text changes, repaints only the stretch of text that changed.
//
// A new log line moves the lines of all ten boxes, so the boxes are the
// costliest thing an idle window draws. Lines mostly share their start (the
// time, "Test ESPA connection ") and their end, so a box repaints the part
// between, inside its frame; with the Fusion style such a repaint fills the
// inside with the box's base colour instead of drawing the whole frame,
// which is all the style would have drawn there.
#pragma once

#include <QLineEdit>
#include <QPoint>
#include <QRect>
#include <QString>
#include <array>

namespace zelvano {

class LogBox : public QLineEdit {
  public:
    explicit LogBox(QWidget* parent);

    // Shows the text from its start, the way the box's own setText would
    // show it, repainting only what changed where it can.
    void SetText(const QString& text) {
        const QString own = this->text();
        ShowOver(text, own, textEnd_, TailX(own, text));
    }
    // The same where the screen shows `shown` instead of this box's own text,
    // ending at `shownEnd` (-1: anywhere), with the end it shares with
    // `text` starting at `shownTailX` (-1: unknown), as after the box was
    // moved there.
    void ShowOver(const QString& text, const QString& shown, int shownEnd, int shownTailX);
    // Where the box's text ends, -1 when unknown.
    int TextEnd() const { return textEnd_; }
    // Where the end this box's text (`own`) shares with `text` starts on the
    // screen; -1 when they share none or the box is hidden or in use.
    int TailX(const QString& own, const QString& text);
    // The operator is using the box: focus, a selection or a moved cursor.
    bool InUse() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QRect Inside() const;
    // Where the cursor is drawn before the character at `position`, in the
    // box's coordinates. A line check asks each box for the same few places
    // as its line moves up: the last readings are kept for the text they
    // were read on.
    QRect CursorAt(qsizetype position);
    void ForgetPlaces();

    // Where the text set last ends (its cursor's right edge), -1 when unknown.
    int textEnd_ = -1;
    struct Reading {
        qsizetype position = -1;
        QRect rect;
    };
    QString readingsFor_;
    std::array<Reading, 4> readings_{};
    std::size_t nextReading_ = 0;
};

// The ten boxes of the screen log, top to bottom. A new line moves every
// line up a box; rather than lay out ten texts again (text shaping, among
// the costliest parts of an idle line check), the boxes themselves move up,
// and those moved out at the top come back at the bottom with the new lines. A box keeps the
// name and the place in the tab order of where it stands.
class LogBoxes {
  public:
    static constexpr int kCount = 10;

    // The boxes, named name_0 to name_9; the caller places them one under
    // the other, all of one size.
    LogBoxes(QWidget* parent, const char* name);

    LogBox* At(int place) const { return boxes_[static_cast<std::size_t>(place)]; }
    void Show(const std::array<QString, kCount>& lines);

  private:
    // How many places the lines moved up from what the boxes show, 0 when
    // they did not simply move up.
    int Shift(const std::array<QString, kCount>& lines) const;

    QWidget* parent_;
    QString name_;
    std::array<LogBox*, kCount> boxes_{};
    // Where each place is, taken from the boxes before they first move.
    std::array<QPoint, kCount> places_{};
    bool placesKnown_ = false;
};

}  // namespace zelvano
