// Readable forms of line bytes and block records for the exchange log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelvano::slave {

// "ENQ", "'1'", "SP", "0xE9".
std::string ByteName(std::uint8_t byte);
// The names of all bytes, separated by blanks.
std::string ByteNames(std::string_view bytes);

// "1=1234 2=Hello 3=1" for a data part (the bytes between STX and ETX). A value
// with a blank, or an empty one, is quoted; control bytes inside a value show
// as <NAME>; a piece without its US shows as ?=piece.
std::string DescribeRecords(std::string_view data);

// The value of the first record with this identifier, as UTF-8; nullopt when
// the data part has none.
std::optional<std::string> RecordValue(std::string_view data, char id);
// The same value as received, in the single-byte code page.
std::optional<std::string> RawRecordValue(std::string_view data, char id);

}  // namespace zelvano::slave
