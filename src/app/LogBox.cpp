#include "app/LogBox.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>
#include <algorithm>
#include <utility>

#include "windows/QtLook.h"

namespace zelvano {

namespace {

// Fusion fills a text box with the base colour and draws on it an outline
// and, inside its top edge, a shadow line; the rounded corners reach three
// pixels in. A repaint that stays clear of them needs the fill only.
class InsideOnlyStyle : public QProxyStyle {
  public:
    bool insideOnly = false;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element == PE_PanelLineEdit && insideOnly) {
            painter->fillRect(option->rect, option->palette.base());
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

// Only under Fusion, whose drawing the fill above repeats.
InsideOnlyStyle* SharedStyle() {
    static InsideOnlyStyle* const style =
        QApplication::style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0
            ? new InsideOnlyStyle  // lives as long as the program
            : nullptr;
    return style;
}

}  // namespace

LogBox::LogBox(QWidget* parent) : QLineEdit(parent) {
    if (InsideOnlyStyle* style = SharedStyle()) {
        setStyle(style);
    }
}

QRect LogBox::Inside() const {
    return rect().adjusted(3, 2, -3, -1);
}

bool LogBox::InUse() const {
    return hasFocus() || hasSelectedText() || cursorPosition() != 0;
}

namespace {

// How many characters two texts share at their start, and how many more at
// their end.
std::pair<qsizetype, qsizetype> SharedEnds(const QString& a, const QString& b) {
    const qsizetype shorter = std::min(a.size(), b.size());
    qsizetype head = 0;
    while (head < shorter && a[head] == b[head]) {
        ++head;
    }
    qsizetype tail = 0;
    while (head + tail < shorter && a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        ++tail;
    }
    return {head, tail};
}

}  // namespace

QRect LogBox::CursorAt(qsizetype position) {
    const QString own = text();
    if (own != readingsFor_) {
        readingsFor_ = own;
        readings_.fill({});
    }
    for (const Reading& reading : readings_) {
        if (reading.position == position) {
            return reading.rect;
        }
    }
    // The box's own layout places the characters; its updates are held
    // while the cursor is moved to read them.
    const bool held = testAttribute(Qt::WA_UpdatesDisabled);
    setAttribute(Qt::WA_UpdatesDisabled, true);
    setCursorPosition(static_cast<int>(position));
    const QRect rect = inputMethodQuery(Qt::ImCursorRectangle).toRect();
    setCursorPosition(0);
    setAttribute(Qt::WA_UpdatesDisabled, held);
    readings_[nextReading_] = {position, rect};
    nextReading_ = (nextReading_ + 1) % readings_.size();
    return rect;
}

int LogBox::TailX(const QString& own, const QString& text) {
    const qsizetype tail = SharedEnds(own, text).second;
    if (tail == 0 || !isVisible() || InUse()) {
        return -1;
    }
    return CursorAt(own.size() - tail).left();
}

void LogBox::ShowOver(const QString& text, const QString& shown, int shownEnd, int shownTailX) {
    const bool newText = text != this->text();
    if (!newText && text == shown) {
        return;
    }
    // A box the operator is using and right-to-left text are repainted whole.
    if (!isVisible() || InUse() || isRightToLeft() || shown.isRightToLeft() ||
        text.isRightToLeft()) {
        SetTextFromStart(this, text);
        textEnd_ = -1;
        update();
        return;
    }
    const auto [head, tail] = SharedEnds(shown, text);
    if (newText) {
        // Held, so that setting the text repaints nothing; the cursor it
        // leaves at the end goes back to the start.
        const bool held = testAttribute(Qt::WA_UpdatesDisabled);
        setAttribute(Qt::WA_UpdatesDisabled, true);
        setText(text);
        setCursorPosition(0);
        setAttribute(Qt::WA_UpdatesDisabled, held);
    }
    const QRect end = CursorAt(text.size());
    const QRect start = CursorAt(head);
    const int tailX = tail > 0 && shownTailX >= 0 ? CursorAt(text.size() - tail).left() : -1;
    // The change ends where the shared end starts, when that end stays in
    // place (a new time before the same words); otherwise at the end of the
    // longer text: where the old one ended, as found last, or anywhere.
    const int right = tailX >= 0 && tailX == shownTailX
                          ? tailX
                          : std::max(end.right(), shownEnd < 0 ? width() : shownEnd);
    textEnd_ = end.right();
    // The cursor spans the text's line; a glyph may reach a little past its
    // cell, sideways by up to a character, up and down by a pixel.
    const int slack = fontMetrics().averageCharWidth();
    const QRect changed =
        QRect(start.topLeft(), QPoint(right, start.bottom())).adjusted(-slack, -1, slack, 1);
    // A change that reaches the frame repaints the box whole: the style's
    // frame drawn through a narrow clip costs more than the whole box.
    if (Inside().contains(changed)) {
        update(changed);
    } else {
        update();
    }
}

void LogBox::paintEvent(QPaintEvent* event) {
    InsideOnlyStyle* style = SharedStyle();
    if (style != nullptr) {
        style->insideOnly = Inside().contains(event->rect());
    }
    QLineEdit::paintEvent(event);
    if (style != nullptr) {
        style->insideOnly = false;
    }
}

void LogBox::ForgetPlaces() {
    textEnd_ = -1;
    readingsFor_.clear();
    readings_.fill({});
}

// Another font, style or size places the text elsewhere: where it ended, and
// the cursor places read, are unknown.
void LogBox::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        ForgetPlaces();
    }
    QLineEdit::changeEvent(event);
}

void LogBox::resizeEvent(QResizeEvent* event) {
    ForgetPlaces();
    QLineEdit::resizeEvent(event);
}

LogBoxes::LogBoxes(QWidget* parent, const char* name)
    : parent_(parent), name_(QString::fromLatin1(name)) {
    for (int i = 0; i < kCount; ++i) {
        auto* box = new LogBox(parent);
        box->setObjectName(name_ + u'_' + QString::number(i));
        boxes_[static_cast<std::size_t>(i)] = box;
    }
}

int LogBoxes::Shift(const std::array<QString, kCount>& lines) const {
    for (int shift = 1; shift < kCount; ++shift) {
        int place = 0;
        while (place + shift < kCount &&
               lines[static_cast<std::size_t>(place)] == At(place + shift)->text()) {
            ++place;
        }
        if (place + shift == kCount) {
            return shift;
        }
    }
    return 0;
}

void LogBoxes::Show(const std::array<QString, kCount>& lines) {
    // Boxes in use (and a hidden log) keep their places: each takes its line.
    const bool inUse = !parent_->isVisible() || std::any_of(boxes_.begin(), boxes_.end(),
                                                            [](LogBox* b) { return b->InUse(); });
    const int shift = inUse ? 0 : Shift(lines);
    if (shift == 0) {
        for (int i = 0; i < kCount; ++i) {
            At(i)->SetText(lines[static_cast<std::size_t>(i)]);
        }
        return;
    }
    // What the screen shows at each place, before the boxes move.
    std::array<QString, kCount> shown;
    std::array<int, kCount> shownEnd{};
    std::array<int, kCount> shownTailX{};
    for (int i = 0; i < kCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        shown[at] = At(i)->text();
        shownEnd[at] = At(i)->TextEnd();
        shownTailX[at] = At(i)->TailX(shown[at], lines[at]);
    }
    if (!placesKnown_) {
        for (int i = 0; i < kCount; ++i) {
            places_[static_cast<std::size_t>(i)] = At(i)->pos();
        }
        placesKnown_ = true;
    }
    std::rotate(boxes_.begin(), boxes_.begin() + shift, boxes_.end());
    // The boxes move unseen; each then repaints only where its line differs
    // from what the screen shows at its new place. The boxes overlap a
    // little, each lower one on top, so those moved to the bottom are raised.
    // While it moves a box does not fill its background: Qt would copy an
    // opaque box's old pixels along, with the edge of the box over it.
    const bool held = parent_->testAttribute(Qt::WA_UpdatesDisabled);
    parent_->setAttribute(Qt::WA_UpdatesDisabled, true);
    for (int i = 0; i < kCount; ++i) {
        LogBox* box = At(i);
        box->setAttribute(Qt::WA_UpdatesDisabled, true);
        const bool fills = box->autoFillBackground();
        box->setAutoFillBackground(false);
        box->move(places_[static_cast<std::size_t>(i)]);
        box->setAutoFillBackground(fills);
        if (i >= kCount - shift) {
            box->raise();
        }
        box->setAttribute(Qt::WA_UpdatesDisabled, held);
        box->setObjectName(name_ + u'_' + QString::number(i));
    }
    parent_->setAttribute(Qt::WA_UpdatesDisabled, held);
    // The boxes moved to the bottom follow the rest in the tab order again.
    for (int i = kCount - shift; i < kCount; ++i) {
        QWidget::setTabOrder(At(i - 1), At(i));
    }
    for (int i = 0; i < kCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        At(i)->ShowOver(lines[at], shown[at], shownEnd[at], shownTailX[at]);
    }
}

}  // namespace zelvano
