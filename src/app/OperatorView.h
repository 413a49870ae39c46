// What the core asks of the windows. The Qt main window implements it; tests
// record it.
#pragma once

#include <array>
#include <string>

#include "buffer/CallBufferEntry.h"

namespace zelvano {

enum class MessageAnswer { Ok, Cancel };

class OperatorView {
  public:
    virtual ~OperatorView() = default;

    // Redraw the ten buffer rows from the buffer.
    virtual void ShowCallBuffer(const CallBufferArray& buffer) = 0;
    // Show the ten screen-log lines (slot 0 at the top).
    virtual void ShowLogLines(const std::array<std::string, 10>& lines) = 0;
    // Caption of the serial frame, e.g. "Settings: Com:1 at 9600,N,8,1".
    virtual void SetPortCaption(const std::string& caption) = 0;
    // Tool tip of the "RTS" label.
    virtual void SetRtsToolTip(const std::string& tip) = 0;
    // Why the port could not be opened (device and reason), shown as the tool
    // tip of the serial frame; empty when the port opened.
    virtual void SetPortProblem(const std::string& reason) = 0;
    // Outer height of the main window, in twips.
    virtual void SetWindowHeight(int twips) = 0;
    // A message box with OK and Cancel.
    virtual MessageAnswer ShowMessageBox(const std::string& text, const std::string& title) = 0;
    // The system beep.
    virtual void Beep() = 0;
};

}  // namespace zelvano
