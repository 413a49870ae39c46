#include "common/Text.h"

#include <array>

namespace zelvano {

std::string TrimStr(std::int16_t n) {
    const int v = n;
    return std::to_string(v < 0 ? -v : v);
}

std::string SignedStr(std::int16_t n) {
    return std::to_string(static_cast<int>(n));
}

std::string HexDigit(std::int16_t n) {
    if (n >= 16)
        return "?";
    if (n >= 10)
        return std::string(1, static_cast<char>('A' + (n - 10)));
    return TrimStr(n);
}

std::string HexByte(std::int16_t n) {
    if (n >= 256)
        return "0xxx";
    return "0x" + HexDigit(static_cast<std::int16_t>(n / 16)) +
           HexDigit(static_cast<std::int16_t>(n % 16));
}

namespace {

// Windows-1252 0x80..0x9F. The five unassigned codes map to the C1 control of
// the same value so that every byte survives a round trip.
constexpr std::array<char32_t, 32> kHighTable = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

char32_t AnsiToUnicode(std::uint8_t b) {
    if (b >= 0x80 && b <= 0x9F)
        return kHighTable[b - 0x80];
    return b;
}

int AnsiCode(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<int>(cp);
    for (std::size_t i = 0; i < kHighTable.size(); ++i) {
        if (kHighTable[i] == cp)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

std::vector<char32_t> DecodeUtf8(std::string_view s) {
    std::vector<char32_t> out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        int len = 0;
        char32_t cp = 0;
        if (b0 < 0x80) {
            len = 1;
            cp = b0;
        } else if ((b0 & 0xE0) == 0xC0) {
            len = 2;
            cp = b0 & 0x1F;
        } else if ((b0 & 0xF0) == 0xE0) {
            len = 3;
            cp = b0 & 0x0F;
        } else if ((b0 & 0xF8) == 0xF0) {
            len = 4;
            cp = b0 & 0x07;
        }
        bool ok = len > 0 && i + len <= s.size();
        for (int k = 1; ok && k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) {
                ok = false;
            } else {
                cp = (cp << 6) | (b & 0x3F);
            }
        }
        // Reject overlong forms, surrogates and values past U+10FFFF.
        if (ok) {
            static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
            if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
                ok = false;
        }
        if (!ok) {
            out.push_back(0xFFFD);
            i += 1;
        } else {
            out.push_back(cp);
            i += static_cast<std::size_t>(len);
        }
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::optional<std::string> Utf8ToAnsi(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (char32_t cp : DecodeUtf8(utf8)) {
        const int code = AnsiCode(cp);
        if (code < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(code));
    }
    return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size());
    for (char c : ansi)
        AppendUtf8(out, AnsiToUnicode(static_cast<std::uint8_t>(c)));
    return out;
}

std::size_t Utf8Length(std::string_view utf8) {
    return DecodeUtf8(utf8).size();
}

std::string Utf8Left(std::string_view utf8, std::size_t n) {
    std::string out;
    std::size_t count = 0;
    for (char32_t cp : DecodeUtf8(utf8)) {
        if (count++ == n)
            break;
        AppendUtf8(out, cp);
    }
    return out;
}

}  // namespace zelvano
