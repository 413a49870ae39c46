#include "buffer/BufferDisplay.h"

#include <array>

#include "app/App.h"
#include "buffer/CallBuffer.h"

namespace zelvano {

namespace {

constexpr const char* kDeleteTip = "DoubleClick here to delete this entry.";

struct StateRow {
    std::string_view status;
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
    {"NEW", false, CellColor::WindowText(), CellColor::ButtonFace(), false},
    {"PAGED", true, kWhite, kDarkBlue, true},
    {"ABSENT", true, kWhite, kDarkRed, true},
    {"QUEUE", true, CellColor::WindowText(), kYellow, true},
    {"TERMINATED", true, kWhite, kDarkRed, true},
    {"NO STATUS", true, kWhite, kDarkBlue, true},
}};

bool IsIndex(std::int16_t index) {
    return index >= 0 && index < kCallBufferSize;
}

}  // namespace

StateCell StateCellFor(std::string_view status) {
    for (const StateRow& row : kStateRows) {
        if (row.status != status)
            continue;
        return StateCell{row.showCaption ? std::string(status) : std::string(), row.text,
                         row.background, row.tip ? kDeleteTip : ""};
    }
    return StateCell{std::string(status), CellColor::WindowText(), CellColor::ButtonFace(), ""};
}

// Only the listed states react; a text outside the known states stays put, as
// "NEW", "BUSY" and "SPEECHPAGED" do.
bool CanRemoveByDoubleClick(std::string_view status) {
    static constexpr std::array<std::string_view, 7> kRemovable = {
        "ABSENT", "PAGED", "QUEUE", "TERMINATED", "NO STATUS", "ERROR", ""};
    for (std::string_view s : kRemovable) {
        if (s == status)
            return true;
    }
    return false;
}

void LabReturnedStatus_DblClick(App& app, std::int16_t index) {
    if (!IsIndex(index))
        return;
    if (!CanRemoveByDoubleClick(app.CallBuffer[static_cast<std::size_t>(index)].Status))
        return;
    app.view.Beep();
    DeleteCall(app, index);
    ShowCallBuffer(app);
}

}  // namespace zelvano
