#include "BlockText.h"

#include <vector>

#include "common/Text.h"
#include "serial/ByteTransfer.h"

namespace zelvano::slave {

namespace {

// A value's bytes in the single-byte code page as UTF-8, control bytes named.
std::string ValueText(std::string_view value) {
    std::string out;
    for (char c : value) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte < 0x20 || byte == 0x7F)
            out += "<" + ByteName(byte) + ">";
        else
            out += AnsiToUtf8(std::string_view(&c, 1));
    }
    if (out.empty() || out.find(' ') != std::string::npos)
        return "\"" + out + "\"";
    return out;
}

std::vector<std::string_view> SplitRecords(std::string_view data) {
    std::vector<std::string_view> pieces;
    if (data.empty())
        return pieces;
    while (true) {
        const auto rs = data.find(static_cast<char>(RS));
        pieces.push_back(data.substr(0, rs));
        if (rs == std::string_view::npos)
            return pieces;
        data.remove_prefix(rs + 1);
    }
}

bool IsRecord(std::string_view piece) {
    return piece.size() >= 2 && static_cast<std::uint8_t>(piece[1]) == US;
}

}  // namespace

std::string ByteName(std::uint8_t byte) {
    if (byte <= 0x20 || byte == 0x7F) {
        // "[ENQ]" without its brackets.
        const std::string name = ControlCharName(byte);
        return name.substr(1, name.size() - 2);
    }
    if (byte < 0x80)
        return std::string("'") + static_cast<char>(byte) + "'";
    return HexByte(byte);
}

std::string ByteNames(std::string_view bytes) {
    std::string out;
    for (char c : bytes) {
        if (!out.empty())
            out += ' ';
        out += ByteName(static_cast<std::uint8_t>(c));
    }
    return out;
}

std::string DescribeRecords(std::string_view data) {
    std::string out;
    for (std::string_view piece : SplitRecords(data)) {
        if (!out.empty())
            out += ' ';
        if (IsRecord(piece))
            out += ValueText(piece.substr(0, 1)) + "=" + ValueText(piece.substr(2));
        else
            out += "?=" + ValueText(piece);
    }
    return out;
}

std::optional<std::string> RawRecordValue(std::string_view data, char id) {
    for (std::string_view piece : SplitRecords(data)) {
        if (IsRecord(piece) && piece[0] == id)
            return std::string(piece.substr(2));
    }
    return std::nullopt;
}

std::optional<std::string> RecordValue(std::string_view data, char id) {
    const auto raw = RawRecordValue(data, id);
    if (!raw)
        return std::nullopt;
    return AnsiToUtf8(*raw);
}

}  // namespace zelvano::slave
