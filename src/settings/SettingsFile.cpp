#include "settings/SettingsFile.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

#include "common/Text.h"
#include "settings/SmallFile.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zelvano {

namespace {

namespace fs = std::filesystem;

constexpr int kSlotCount = 299;  // line numbers 0..298 are kept
// espa.set is eighteen short lines; a larger file is not one.
constexpr std::size_t kMaxSettingsBytes = 16 * 1024;
constexpr std::size_t kLineNumberChars = 4;

// Where each field lives in the file, in the order the file lists them.
struct FieldLine {
    int line;
    const char* key;
    std::int16_t Settings::*field;  // null for the block field entries
};

constexpr std::array<FieldLine, 12> kScalarLines = {{
    {0, "Compoort", &Settings::comPort},
    {10, "Emulatie", &Settings::emulation},
    {11, "BaudRate", &Settings::baudRate},
    {12, "Parity", &Settings::parity},
    {13, "Bits", &Settings::dataBits},
    {14, "StopBits", &Settings::stopBits},
    {15, "HandShake", &Settings::handshake},
    {16, "LineCheck", &Settings::lineCheck},
    {17, "CallStatusCheck", &Settings::statusCheck},
    {20, "Logfile", &Settings::logLevel},
    {21, "CheckInterval", &Settings::checkInterval},
    {40, "EspaEnable", &Settings::variableBlock},
}};
constexpr int kBlockFieldsFirstLine = 30;

// ---- numbers -------------------------------------------------------------

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Larger than any 16-bit value, small enough never to overflow while digits
// are added: magnitudes saturate here.
constexpr std::int64_t kSaturated = 1'000'000'000;

// The numeric value of text: leading blanks skipped, an optional sign, digits
// and an optional decimal fraction; reading stops at the first other
// character. Rounded to the nearest whole number, a half to the even one.
// Text without a number gives 0.
std::int64_t RoundedNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    std::int64_t whole = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        whole = std::min(whole * 10 + (text[i] - '0'), kSaturated);
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        int first = -1;            // first fraction digit
        bool restNonZero = false;  // any non-zero digit after it
        for (; i < text.size() && IsDigit(text[i]); ++i) {
            if (first < 0) {
                first = text[i] - '0';
            } else if (text[i] != '0') {
                restNonZero = true;
            }
        }
        const bool up = first > 5 || (first == 5 && (restNonZero || whole % 2 == 1));
        if (up)
            whole = std::min(whole + 1, kSaturated);
    }
    return negative ? -whole : whole;
}

// A value that does not fit a 16-bit field is clamped to the nearest end: it
// stays out of every list (each reader has a fallback for that), whereas
// wrapping could turn it into a valid but unintended choice.
std::int16_t ClampTo16(std::int64_t v) {
    if (v > INT16_MAX)
        return INT16_MAX;
    if (v < INT16_MIN)
        return INT16_MIN;
    return static_cast<std::int16_t>(v);
}

// ---- items ---------------------------------------------------------------

// Splits the file into items the way a comma-separated text reader does: an
// item ends at a comma or at the end of a line (CR, LF or CRLF); leading
// blanks are skipped; an item in double quotes is taken without them, and
// anything between its closing quote and the next comma is dropped.
class ItemReader {
  public:
    explicit ItemReader(std::string_view bytes) : bytes_(bytes) {}

    std::optional<std::string_view> Next() {
        if (pos_ >= bytes_.size())
            return std::nullopt;
        while (pos_ < bytes_.size() && IsBlank(bytes_[pos_]))
            ++pos_;
        std::string_view item;
        if (pos_ < bytes_.size() && bytes_[pos_] == '"') {
            item = QuotedItem();
        } else {
            const std::size_t start = pos_;
            SkipToItemEnd();
            item = bytes_.substr(start, pos_ - start);
        }
        SkipItemEnd();
        return item;
    }

  private:
    bool AtItemEnd() const {
        const char c = bytes_[pos_];
        return c == ',' || c == '\r' || c == '\n';
    }
    void SkipToItemEnd() {
        while (pos_ < bytes_.size() && !AtItemEnd())
            ++pos_;
    }
    // An unclosed quote runs to the end of the line.
    std::string_view QuotedItem() {
        const std::size_t start = ++pos_;
        while (pos_ < bytes_.size() && bytes_[pos_] != '"' && bytes_[pos_] != '\r' &&
               bytes_[pos_] != '\n') {
            ++pos_;
        }
        const std::string_view item = bytes_.substr(start, pos_ - start);
        SkipToItemEnd();
        return item;
    }
    void SkipItemEnd() {
        if (pos_ >= bytes_.size())
            return;
        if (bytes_[pos_] == '\r' && pos_ + 1 < bytes_.size() && bytes_[pos_ + 1] == '\n')
            ++pos_;
        ++pos_;
    }

    std::string_view bytes_;
    std::size_t pos_ = 0;
};

using Slots = std::array<std::string, kSlotCount>;

// Files the value texts of all items into their slots. Stops at a negative
// line number or one that does not fit 16 bits, keeping what was filed.
void FillSlots(std::string_view bytes, Slots& slots) {
    ItemReader reader(bytes);
    std::string current;  // value text of the last item with an arrow
    while (const auto item = reader.Next()) {
        if (item->empty())
            continue;
        const std::int64_t line = RoundedNumber(item->substr(0, kLineNumberChars));
        const std::size_t arrow = item->find("->");
        if (arrow != std::string_view::npos)
            current = std::string(item->substr(arrow + 2));
        if (line < 0 || line > INT16_MAX)
            return;
        if (line < kSlotCount)
            slots[static_cast<std::size_t>(line)] = current;
    }
}

std::int16_t SlotValue(const Slots& slots, int line) {
    return ClampTo16(RoundedNumber(slots[static_cast<std::size_t>(line)]));
}

// ---- lines ---------------------------------------------------------------

std::string SettingsLine(int line, const char* key, std::int16_t value) {
    std::string text = std::to_string(line);
    text.resize(9, ' ');
    text += key;
    text += " ->";
    // The sign is kept so that -1 (a list saved without a selection) reads
    // back as -1; the reader has always accepted a sign.
    text += SignedStr(value);
    text += "\r\n";
    return text;
}

// ---- writing -------------------------------------------------------------

bool SyncToDisk(std::FILE* f) {
#if defined(_WIN32)
    return _commit(_fileno(f)) == 0;
#else
    return fsync(fileno(f)) == 0;
#endif
}

// Makes the rename itself durable; best effort.
void SyncDirectory(const fs::path& dir) {
#if !defined(_WIN32)
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
#else
    (void)dir;
#endif
}

// Writes bytes to a new file of its own at path and forces them to disk.
// A failure may leave a partial file behind for the caller to remove.
bool WriteNewFile(const fs::path& path, const std::string& bytes, bool& created) {
    std::FILE* f = std::fopen(path.string().c_str(), "wbx");
    if (f == nullptr)
        return false;
    created = true;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fflush(f) == 0 && ok;
    ok = ok && SyncToDisk(f);
    return std::fclose(f) == 0 && ok;
}

// A leftover from an interrupted save is replaced; anything else at that name
// (a directory) makes the save fail.
void RemoveStaleTemp(const fs::path& temp) {
    std::error_code ec;
    const fs::file_type type = fs::symlink_status(temp, ec).type();
    if (type != fs::file_type::not_found && type != fs::file_type::directory)
        fs::remove(temp, ec);
}

void KeepPermissions(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    const fs::file_status old = fs::status(from, ec);
    if (ec || !fs::is_regular_file(old))
        return;
    fs::permissions(to, old.permissions(), fs::perm_options::replace, ec);
}

// The file a link at path points to, through any chain of links; path itself
// when it is no link.
fs::path LinkTarget(fs::path path) {
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hops) {
        const fs::path next = fs::read_symlink(path, ec);
        if (ec)
            break;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return path;
}

}  // namespace

bool SettingsFileLocked(const fs::path& file) {
    const fs::path target = LinkTarget(file);
    std::error_code ec;
    const fs::file_status st = fs::status(target, ec);
    if (ec || !fs::is_regular_file(st))
        return false;
    // No write bit at all is a lock even for root, who could write anyway.
    const auto writeBits =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if ((st.permissions() & writeBits) == fs::perms::none)
        return true;
#if !defined(_WIN32)
    return access(target.c_str(), W_OK) != 0;
#else
    return false;
#endif
}

fs::path SettingsPath(const fs::path& dataDir) {
    return dataDir / "espa.set";
}

Settings ParseSettings(std::string_view fileBytes) {
    Slots slots;
    FillSlots(fileBytes, slots);
    Settings s;
    for (const FieldLine& f : kScalarLines)
        s.*(f.field) = SlotValue(slots, f.line);
    for (std::size_t i = 0; i < s.blockFields.size(); ++i) {
        s.blockFields[i] = SlotValue(slots, kBlockFieldsFirstLine + static_cast<int>(i));
    }
    return s;
}

std::string FormatSettings(const Settings& settings) {
    std::string out;
    // Lines 0 and 10..21 come before the block field lines (30..35), the variable block (40) last.
    for (const FieldLine& f : kScalarLines) {
        if (f.line == 40) {
            for (std::size_t i = 0; i < settings.blockFields.size(); ++i) {
                out += SettingsLine(kBlockFieldsFirstLine + static_cast<int>(i), "EspaSet",
                                    settings.blockFields[i]);
            }
        }
        out += SettingsLine(f.line, f.key, settings.*(f.field));
    }
    return out;
}

Settings ReadSettingsFile(const fs::path& file, std::string* problem) {
    // Only a small regular file is read: a directory, a pipe or a device in
    // its place would fail or block.
    SmallFile read = ReadSmallFile(file, kMaxSettingsBytes);
    if (problem != nullptr)
        *problem = read.problem;
    return ParseSettings(read.bytes);
}

std::string SettingsLinkRefusal(const fs::path& file) {
#if !defined(_WIN32)
    // Each link of a chain and the file at its end must be the user's own:
    // a link laid by someone else must not make a save write their file.
    struct stat st {};
    fs::path path = file;
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hops) {
        if (::lstat(path.c_str(), &st) != 0 || st.st_uid != ::geteuid())
            return "a link not owned by this user: " + path.string();
        const fs::path next = fs::read_symlink(path, ec);
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    if (path != file && (::stat(path.c_str(), &st) != 0 || st.st_uid != ::geteuid()))
        return "a link to a file not owned by this user: " + path.string();
#else
    (void)file;
#endif
    return {};
}

bool WriteSettingsFile(const fs::path& link, const Settings& settings) {
    // A locked file is left alone; a linked one is replaced at its target, so
    // the link stays, when link and target are the user's own.
    if (SettingsFileLocked(link) || !SettingsLinkRefusal(link).empty())
        return false;
    const fs::path file = LinkTarget(link);
    fs::path temp = file;
    temp += ".tmp";
    RemoveStaleTemp(temp);
    const std::string bytes = FormatSettings(settings);
    bool created = false;
    bool ok = WriteNewFile(temp, bytes, created);
    // A directory that was not found gets one more try, as a share may just
    // have come back.
    std::error_code ec;
    if (!ok && !created && !fs::exists(file.parent_path(), ec))
        ok = WriteNewFile(temp, bytes, created);
    if (ok) {
        KeepPermissions(file, temp);
        fs::rename(temp, file, ec);
        ok = !ec;
    }
    if (!ok) {
        if (created)
            fs::remove(temp, ec);
        return false;
    }
    SyncDirectory(file.parent_path());
    return true;
}

}  // namespace zelvano
