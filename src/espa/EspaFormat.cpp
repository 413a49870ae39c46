#include "espa/EspaFormat.h"

#include <optional>

#include "common/Text.h"

namespace zelvano {

namespace {

constexpr std::int16_t kPhilips = 0;
constexpr std::int16_t kOoperon = 4;
constexpr std::size_t kOoperonAlfaLength = 24;

// The value itself when it is exactly one character long, else the default.
std::string OneCharOr(const std::string& value, const char* fallback) {
    return Utf8Length(value) == 1 ? value : std::string(fallback);
}

// Value of a configurable-layout item; nullopt for items outside 1..6.
std::optional<std::string> ConfigurableValue(std::int16_t item, const CallRequest& entry) {
    switch (item) {
        case 1:
            return entry.address;
        case 2:
            return entry.text;
        case 3:
            return OneCharOr(entry.bleep, "1");
        case 4:
            return OneCharOr(entry.callType, "3");
        case 5:
            return OneCharOr(entry.transmissions, "1");
        case 6:
            return OneCharOr(entry.priority, "1");
        default:
            return std::nullopt;
    }
}

char ItemDigit(std::int16_t item) {
    return static_cast<char>('0' + item);
}

std::vector<EspaRecord> FixedRecords(const Settings& settings, const CallRequest& entry) {
    std::vector<EspaRecord> records;
    records.push_back({'1', entry.address});
    const bool cut = settings.emulation == kOoperon;
    records.push_back({'2', cut ? Utf8Left(entry.text, kOoperonAlfaLength) : entry.text});
    records.push_back({'3', OneCharOr(entry.bleep, "1")});
    records.push_back({'4', OneCharOr(entry.callType, "3")});
    if (settings.emulation != kPhilips)
        records.push_back({'5', OneCharOr(entry.transmissions, "1")});
    if (!entry.priority.empty())
        records.push_back({'6', entry.priority});
    return records;
}

std::vector<EspaRecord> ConfigurableRecords(const Settings& settings, const CallRequest& entry) {
    std::vector<EspaRecord> records;
    for (std::int16_t item : settings.blockFields) {
        if (auto value = ConfigurableValue(item, entry)) {
            records.push_back({ItemDigit(item), std::move(*value)});
        }
    }
    return records;
}

bool ValueSendable(std::string_view value) {
    for (char32_t cp : DecodeUtf8(value)) {
        if (AnsiCode(cp) < 0x20)
            return false;  // -1 (no code) or a control character
    }
    return true;
}

// "PAGED" and so on for the character after '7' US.
CallState StateFor(char c) {
    switch (c) {
        case '1':
            return CallState::Busy;
        case '2':
            return CallState::Queue;
        case '3':
            return CallState::Paged;
        case '4':
            return CallState::Absent;
        case '5':
            return CallState::Terminated;
        case '7':
            return CallState::SpeechPaged;
        default:
            return CallState::Error;
    }
}

}  // namespace

std::string BuildEspaRecord(std::int16_t item, const CallRequest& entry) {
    const auto value = ConfigurableValue(item, entry);
    if (!value)
        return "";
    std::string record(1, ItemDigit(item));
    record += static_cast<char>(US);
    record += *value;
    record += static_cast<char>(RS);
    return record;
}

std::vector<EspaRecord> EspaRecords(const Settings& settings, const CallRequest& entry) {
    return settings.variableBlock != 0 ? ConfigurableRecords(settings, entry)
                                       : FixedRecords(settings, entry);
}

std::string BuildEspaData(const Settings& settings, const CallRequest& entry) {
    // Records joined by RS: the same as the configurable layout's "each record
    // followed by RS, then the last RS removed".
    std::string data;
    bool first = true;
    for (const EspaRecord& record : EspaRecords(settings, entry)) {
        if (!first)
            data += static_cast<char>(RS);
        first = false;
        data += record.id;
        data += static_cast<char>(US);
        data += record.value;
    }
    data += static_cast<char>(ETX);
    return data;
}

bool BlockValuesSendable(const Settings& settings, const CallRequest& entry) {
    for (const EspaRecord& record : EspaRecords(settings, entry)) {
        if (!ValueSendable(record.value))
            return false;
    }
    return true;
}

std::uint8_t BlockCheck(std::string_view bytes) {
    std::uint8_t check = 0;
    for (char c : bytes)
        check ^= static_cast<std::uint8_t>(c);
    return check;
}

CallState ParseCallStatus(std::string_view statusBlock) {
    const std::size_t at = statusBlock.find("7\x1F");
    std::size_t pick = at == std::string_view::npos ? 1 : at + 2;
    if (pick >= statusBlock.size())
        return StateFor('\0');  // no such character
    return StateFor(statusBlock[pick]);
}

}  // namespace zelvano
