#include "windows/CallEntry.h"

#include <cctype>
#include <cstdlib>

#include "app/App.h"
#include "buffer/CallBuffer.h"
#include "common/Text.h"

namespace zelvano {

namespace {

constexpr std::int16_t kRepeatTicksPerStep = 10;

std::vector<std::string> MakeBleepEntries() {
    std::vector<std::string> entries{"0 = reserved", "1 = bleeppattern 1", "2 = bleeppattern 2"};
    for (std::int16_t i = 3; i < 16; ++i) {
        entries.push_back(HexDigit(i));
    }
    return entries;
}

std::vector<std::string> MakeAutoRepeatEntries() {
    std::vector<std::string> entries{"No AutoRepeat call"};
    for (int n = 1; n <= 6; ++n) {
        entries.push_back("AutoRepeat every " + std::to_string(10 * n) + "secs");
    }
    return entries;
}

// The list position a stored value selects: values outside the list leave
// the freshly filled list without a selection.
std::int16_t PositionIn(int value, std::size_t count) {
    return (value >= 0 && value < static_cast<int>(count)) ? static_cast<std::int16_t>(value) : -1;
}

// The number at the start of a text (blanks, optional sign, digits); 0 when
// there is none.
int LeadingNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    int sign = 1;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        sign = text[i] == '-' ? -1 : 1;
        ++i;
    }
    long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 100000) {
            break;  // far outside every list; the exact size does not matter
        }
    }
    return static_cast<int>(sign * value);
}

void StartOrEndRepeat(App& app, std::int16_t choice) {
    AutoRepeatState& repeat = app.autoRepeat;
    repeat.AutoRepeatChoice = choice;
    if (choice > 0) {
        repeat.AutoRepeatActive = 1;
        repeat.AutoRepeatCountdown = static_cast<std::int16_t>(kRepeatTicksPerStep * choice);
    } else {
        // Without a period a running repeat would reload its countdown with 0
        // and queue the call on every tick; such a Call ends the repeat.
        repeat.AutoRepeatActive = 0;
    }
}

}  // namespace

const std::vector<std::string>& BleepEntries() {
    static const std::vector<std::string> entries = MakeBleepEntries();
    return entries;
}

const std::vector<std::string>& PriorityEntries() {
    static const std::vector<std::string> entries{"0 = reserved", "1 = Emergency", "2 = High",
                                                  "3 = Normal"};
    return entries;
}

const std::vector<std::string>& CallTypeEntries() {
    static const std::vector<std::string> entries{"0 = reserved", "1 = Reset (cancel) Call",
                                                  "2 = Speech Call", "3 = Standard (code) Call"};
    return entries;
}

const std::vector<std::string>& NrOfTxEntries() {
    static const std::vector<std::string> entries{"0 = reserved", "1 = 1 transmission",
                                                  "2 = 2 transmissions", "3 = 3 transmissions"};
    return entries;
}

const std::vector<std::string>& AutoRepeatEntries() {
    static const std::vector<std::string> entries = MakeAutoRepeatEntries();
    return entries;
}

std::string HexField(std::int16_t position) {
    return HexDigit(position);
}

std::string DecimalField(std::int16_t position) {
    return TrimStr(position);
}

std::string RememberedNrOfTx(std::int16_t position) {
    return SignedStr(position);
}

CallForm LoadCallForm(const App& app) {
    const LastCallRecord& last = app.LastCall;
    CallForm form;
    form.nrOfTxEnabled = app.settings.Emulatie != 0;
    form.bleep = PositionIn(last.BleepIndex, BleepEntries().size());
    form.priority = PositionIn(last.PriorityIndex, PriorityEntries().size());
    form.callType = PositionIn(last.CallTypeIndex, CallTypeEntries().size());
    form.nrOfTx = PositionIn(LeadingNumber(last.NrOfTx), NrOfTxEntries().size());
    if (!last.Address.empty()) {
        form.address = last.Address;
        form.alfa = last.Alfa;
    }
    form.autoRepeat = PositionIn(app.autoRepeat.AutoRepeatChoice, AutoRepeatEntries().size());
    return form;
}

void CmdCall_Click(App& app, const CallForm& form) {
    AddCall(app, form.address, HexField(form.bleep), form.alfa, DecimalField(form.priority),
            HexField(form.nrOfTx), DecimalField(form.callType));

    LastCallRecord& last = app.LastCall;
    last.Address = form.address;
    last.BleepIndex = form.bleep;
    last.Alfa = form.alfa;
    last.PriorityIndex = form.priority;
    last.CallTypeIndex = form.callType;
    last.NrOfTx = RememberedNrOfTx(form.nrOfTx);

    StartOrEndRepeat(app, form.autoRepeat);
    ShowCallBuffer(app);
}

void CmdStopAutoCall_Click(App& app) {
    if (app.autoRepeat.AutoRepeatActive > 0) {
        app.autoRepeat.AutoRepeatActive = 0;
    }
}

bool StopButtonEnabled(const App& app) {
    return app.autoRepeat.AutoRepeatActive >= 1;
}

void AutoRepeatStep(App& app) {
    AutoRepeatState& repeat = app.autoRepeat;
    if (repeat.AutoRepeatActive == 0) {
        return;
    }
    if (repeat.AutoRepeatCountdown > 0) {
        --repeat.AutoRepeatCountdown;
    }
    if (repeat.AutoRepeatCountdown != 0) {
        return;  // still counting, or negative: never due
    }
    repeat.AutoRepeatCountdown =
        static_cast<std::int16_t>(kRepeatTicksPerStep * repeat.AutoRepeatChoice);
    const LastCallRecord& last = app.LastCall;
    AddCall(app, last.Address, HexField(last.BleepIndex), last.Alfa,
            DecimalField(last.PriorityIndex), last.NrOfTx, DecimalField(last.CallTypeIndex));
}

}  // namespace zelvano
