#include "app/LogBox.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>

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

// Where a text box draws its cursor, in the box's own coordinates.
QRect CursorRect(const QLineEdit* box) {
    return box->inputMethodQuery(Qt::ImCursorRectangle).toRect();
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

void LogBox::SetText(const QString& text) {
    const QString old = this->text();
    if (old == text) {
        return;
    }
    // A box the operator is using (focus, selection, a moved cursor) and
    // right-to-left text are repainted whole.
    if (!isVisible() || hasFocus() || hasSelectedText() || cursorPosition() != 0 ||
        isRightToLeft() || old.isRightToLeft() || text.isRightToLeft()) {
        SetTextFromStart(this, text);
        textEnd_ = -1;
        return;
    }
    qsizetype first = 0;
    while (first < old.size() && first < text.size() && old[first] == text[first]) {
        ++first;
    }
    // The box's own layout places the characters; its updates are held
    // while the cursor is moved to read them.
    setAttribute(Qt::WA_UpdatesDisabled, true);
    setText(text);  // leaves the cursor at the end
    const QRect end = CursorRect(this);
    setCursorPosition(static_cast<int>(first));
    const QRect start = CursorRect(this);
    setCursorPosition(0);
    setAttribute(Qt::WA_UpdatesDisabled, false);
    // The old text ended where the last call found it, or anywhere.
    const int right = std::max(end.right(), textEnd_ < 0 ? width() : textEnd_);
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

// Another font or style places the text elsewhere: where it ended is unknown.
void LogBox::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        textEnd_ = -1;
    }
    QLineEdit::changeEvent(event);
}

}  // namespace zelvano
