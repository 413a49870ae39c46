#include "windows/BufferDisplay.h"

#include <array>

namespace zelvano {

namespace {

constexpr const char* kDeleteTip = "DoubleClick here to delete this entry.";

struct StateRow {
    CallState state;
    bool showCaption;
    CellColor text;
    CellColor background;
    bool tip;
};

const CellColor kWhite = CellColor::Rgb(255, 255, 255);
const CellColor kDarkBlue = CellColor::Rgb(0, 0, 192);
const CellColor kDarkRed = CellColor::Rgb(192, 0, 0);
const CellColor kYellow = CellColor::Rgb(255, 255, 0);

// The states with a look of their own; every other text uses the plain look.
const std::array<StateRow, 6> kStateRows = {{
    {CallState::New, false, CellColor::WindowText(), CellColor::ButtonFace(), false},
    {CallState::Paged, true, kWhite, kDarkBlue, true},
    {CallState::Absent, true, kWhite, kDarkRed, true},
    {CallState::Queue, true, CellColor::WindowText(), kYellow, true},
    {CallState::Terminated, true, kWhite, kDarkRed, true},
    {CallState::NoStatus, true, kWhite, kDarkBlue, true},
}};

}  // namespace

StateCell StateCellFor(CallState state) {
    const std::string text(StateText(state));
    for (const StateRow& row : kStateRows) {
        if (row.state != state)
            continue;
        return StateCell{row.showCaption ? text : std::string(), row.text, row.background,
                         row.tip ? kDeleteTip : ""};
    }
    return StateCell{text, CellColor::WindowText(), CellColor::ButtonFace(), ""};
}

// "NEW", "BUSY" and "SPEECHPAGED" stay put.
bool CanRemoveByDoubleClick(CallState state) {
    return state != CallState::New && state != CallState::Busy && state != CallState::SpeechPaged;
}

}  // namespace zelvano
