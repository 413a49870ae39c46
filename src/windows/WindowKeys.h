// Return and Escape for the program's secondary windows, which are plain
// windows rather than dialogs (so Qt gives them neither key), and a focus
// mark on push buttons that differs from the default button's frame.
#pragma once

#include <functional>

class QPushButton;
class QWidget;

namespace zelvano {

// Return (and Enter) presses the focused push button, or the default button
// (may be null; only while enabled) when the focus is elsewhere; the button
// Return will press is the one drawn as default. Escape runs onEscape. The
// window's push buttons show their focus with a dotted frame inside.
void BindWindowKeys(QWidget* window, QPushButton* defaultButton, std::function<void()> onEscape);

}  // namespace zelvano
