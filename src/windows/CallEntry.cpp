#include "windows/CallEntry.h"

#include <cctype>
#include <cstdlib>
#include <utility>

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

void StartOrEndRepeat(AutoRepeat& repeat, std::int16_t choice) {
    repeat.choice = choice;
    // Without a period a running repeat would reload its countdown with 0
    // and queue the call on every tick; such a Call ends the repeat.
    repeat.active = choice > 0;
    if (repeat.active)
        repeat.countdown = static_cast<std::int16_t>(kRepeatTicksPerStep * choice);
}

CallRequest RequestFor(const LastCall& last) {
    return CallRequest{last.address,
                       last.text,
                       HexField(last.bleep),
                       DecimalField(last.priority),
                       DecimalField(last.callType),
                       last.transmissions};
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

const std::vector<std::string>& TransmissionsEntries() {
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

std::string RememberedTransmissions(std::int16_t position) {
    return SignedStr(position);
}

CallForm LoadCallForm(const Console& console, const Settings& settings) {
    const LastCall& last = console.last;
    CallForm form;
    form.transmissionsEnabled = settings.emulation != 0;
    form.bleep = PositionIn(last.bleep, BleepEntries().size());
    form.priority = PositionIn(last.priority, PriorityEntries().size());
    form.callType = PositionIn(last.callType, CallTypeEntries().size());
    form.transmissions =
        PositionIn(LeadingNumber(last.transmissions), TransmissionsEntries().size());
    if (!last.address.empty()) {
        form.address = last.address;
        form.text = last.text;
    }
    form.autoRepeat = PositionIn(console.repeat.choice, AutoRepeatEntries().size());
    return form;
}

Submitted PlaceCall(PagingCore& core, Console& console, const CallForm& form) {
    const std::pair<const char*, std::int16_t> lists[] = {{"bleep", form.bleep},
                                                          {"priority", form.priority},
                                                          {"calltype", form.callType},
                                                          {"transmissions", form.transmissions}};
    for (const auto& [name, position] : lists) {
        if (position < 0)
            return {0, std::string(name) + ": no entry chosen"};
    }
    const Submitted submitted = core.Submit(
        CallRequest{form.address, form.text, HexField(form.bleep), DecimalField(form.priority),
                    DecimalField(form.callType), HexField(form.transmissions)});
    if (submitted.id == 0)
        return submitted;
    LastCall& last = console.last;
    last.address = form.address;
    last.bleep = form.bleep;
    last.text = form.text;
    last.priority = form.priority;
    last.callType = form.callType;
    last.transmissions = RememberedTransmissions(form.transmissions);
    StartOrEndRepeat(console.repeat, form.autoRepeat);
    return submitted;
}

void StopRepeat(Console& console) {
    console.repeat.active = false;
    console.repeat.choice = 0;
}

void RepeatStep(PagingCore& core, Console& console) {
    AutoRepeat& repeat = console.repeat;
    if (!repeat.active)
        return;
    if (repeat.countdown > 0)
        --repeat.countdown;
    if (repeat.countdown != 0)
        return;  // still counting, or negative: never due
    repeat.countdown = static_cast<std::int16_t>(kRepeatTicksPerStep * repeat.choice);
    core.Submit(RequestFor(console.last));
}

}  // namespace zelvano
