// Small helpers the Qt windows share: twips geometry and the core's colours.
#pragma once

#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QWidget>

#include "buffer/BufferDisplay.h"
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
inline void PaintColors(QWidget* widget, const QColor& background, const QColor& text) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    widget->setAutoFillBackground(true);
    widget->setPalette(palette);
}

inline void PaintBackground(QWidget* widget, const QColor& background) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    widget->setAutoFillBackground(true);
    widget->setPalette(palette);
}

}  // namespace zelvano
