// Small helpers the Qt windows share: twips geometry and the core's colours.
#pragma once

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPalette>
#include <QWidget>

#include "windows/BufferDisplay.h"
#include "windows/Twips.h"

namespace zelvano {

// Places a widget by a twips rectangle (relative to its parent), with the
// widget's own logical resolution.
inline void PlaceTwips(QWidget* widget, int left, int top, int width, int height) {
    const int dx = widget->logicalDpiX();
    const int dy = widget->logicalDpiY();
    widget->setGeometry(TwipsToPixels(left, dx), TwipsToPixels(top, dy), TwipsToPixels(width, dx),
                        TwipsToPixels(height, dy));
}

// Places a widget at a twips position and lets it take its natural size.
inline void PlaceTwipsAt(QWidget* widget, int left, int top) {
    widget->adjustSize();
    widget->move(TwipsToPixels(left, widget->logicalDpiX()),
                 TwipsToPixels(top, widget->logicalDpiY()));
}

// The layouts were drawn for a small dialog font (8.25 pt); the desktop's
// family is kept, its size is not, so captions fit their twips.
inline void ApplyDesignFont(QWidget* window) {
    QFont font = QApplication::font();
    font.setPointSizeF(8.25);
    window->setFont(font);
}

// Shrinks a control's font (not below 6 pt) until its text fits the room
// its twips leave: the desktop's font may run wider than the layout's.
inline void FitFontToWidth(QWidget* widget, const QString& text, int room) {
    QFont font = widget->font();
    while (QFontMetrics(font).horizontalAdvance(text) > room && font.pointSizeF() > 6.0) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
    }
    widget->setFont(font);
}

// A one-line text box shows the start of its text, not its end.
template <class LineEdit>
inline void SetTextFromStart(LineEdit* box, const QString& text) {
    if (box->text() == text)
        return;
    box->setText(text);
    box->setCursorPosition(0);
}

// The system colours follow the desktop's palette.
inline QColor ToQColor(const CellColor& color) {
    switch (color.kind) {
        case CellColor::Kind::WindowText:
            return QApplication::palette().color(QPalette::WindowText);
        case CellColor::Kind::ButtonFace:
            return QApplication::palette().color(QPalette::Button);
        case CellColor::Kind::Rgb:
            break;
    }
    return QColor(color.r, color.g, color.b);
}

// Paints a widget's background and text (its Window and WindowText roles).
// Colours that are already there are not set again: the link label and the
// state cells are painted again whenever the line or a row is shown.
inline void PaintColors(QWidget* widget, const QColor& background, const QColor& text) {
    QPalette palette = widget->palette();
    if (widget->autoFillBackground() && palette.color(QPalette::Window) == background &&
        palette.color(QPalette::WindowText) == text)
        return;
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    widget->setAutoFillBackground(true);
    widget->setPalette(palette);
}

// Why the window refused the last input, in dark red, wrapped; empty until then.
inline QLabel* MakeHintLabel(QWidget* window, int left, int top, int width, int height) {
    auto* hint = new QLabel(window);
    hint->setObjectName("LabHint");
    hint->setWordWrap(true);
    hint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PaintColors(hint, window->palette().color(QPalette::Window), QColor(192, 0, 0));
    hint->setAutoFillBackground(false);
    PlaceTwips(hint, left, top, width, height);
    return hint;
}

}  // namespace zelvano
