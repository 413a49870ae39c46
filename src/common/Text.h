// Text helpers shared by every subsystem: number formatting, the control
// characters of the line, and the single-byte code page used on the line and
// in the log files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvano {

inline constexpr std::uint8_t SOH = 0x01;
inline constexpr std::uint8_t STX = 0x02;
inline constexpr std::uint8_t ETX = 0x03;
inline constexpr std::uint8_t EOT = 0x04;
inline constexpr std::uint8_t ENQ = 0x05;
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t NAK = 0x15;
inline constexpr std::uint8_t RS = 0x1E;
inline constexpr std::uint8_t US = 0x1F;

// Decimal form of n without its sign position: 123 -> "123", -7 -> "7".
std::string TrimStr(std::int16_t n);

// Decimal form of n keeping a minus sign; used where the sign must survive
// (the settings file).
std::string SignedStr(std::int16_t n);

// 10..15 -> "A".."F", 16 and above -> "?", below 10 -> TrimStr(n).
std::string HexDigit(std::int16_t n);

// 0..255 -> "0x" + two hex digits; 256 and above -> "0xxx".
std::string HexByte(std::int16_t n);

// One character of UTF-8 text decoded as a Unicode code point. A malformed
// sequence yields one code point 0xFFFD per offending byte.
std::vector<char32_t> DecodeUtf8(std::string_view utf8);

// Appends the UTF-8 encoding of one code point.
void AppendUtf8(std::string& out, char32_t cp);

// The Windows-1252 byte for a code point, or -1 when it has no single-byte code.
int AnsiCode(char32_t cp);

// The code point of a Windows-1252 byte.
char32_t AnsiToUnicode(std::uint8_t b);

// UTF-8 text to Windows-1252 bytes; nullopt when any character has no
// single-byte code (it is reported, never replaced).
std::optional<std::string> Utf8ToAnsi(std::string_view utf8);

// Windows-1252 bytes to UTF-8 text.
std::string AnsiToUtf8(std::string_view ansi);

// Number of characters (code points) in UTF-8 text.
std::size_t Utf8Length(std::string_view utf8);

// The first n characters of UTF-8 text.
std::string Utf8Left(std::string_view utf8, std::size_t n);

}  // namespace zelvano
