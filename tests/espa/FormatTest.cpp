// Call block data, the block check character, state words, and the text
// helpers with their single-byte (Windows-1252) rules.
#include <gtest/gtest.h>

#include "common/Text.h"
#include "espa/EngineSteps.h"
#include "espa/EspaFormat.h"
#include "support/TestApp.h"

namespace zelvano::test {
namespace {

// Readable frames: '^' stands for STX, '|' for US, '/' for RS, '$' for ETX.
std::string Frame(std::string s) {
    for (char& c : s)
        c = c == '^' ? STX : c == '|' ? US : c == '/' ? RS : c == '$' ? ETX : c;
    return s;
}

std::string HexOf(const std::string& s) {
    return ToHex({s.begin(), s.end()});
}

const char* const kE = "\xC3\xA9";  // one character, two UTF-8 bytes
const std::string kAlfa26 = std::string(kE) + "ABCDEFGHIJKLMNOPQRSTUVWXY";
const std::string kAlfa24 = std::string(kE) + "ABCDEFGHIJKLMNOPQRSTUVW";

struct Block {
    std::int16_t emulatie;
    bool configurable;
    std::array<std::int16_t, 6> set;
    std::array<std::string, 6> call;  // address, text, bleep, call type, transmissions, priority
    std::string data;                 // "" when only sendability is checked
    bool sendable = true;
};

// clang-format off
const Block kBlocks[] = {
    {1, false, {}, {"123", "HELLO", "", "", "2", ""}, "1|123/2|HELLO/3|1/4|3/5|2$"},
    {0, false, {}, {"123", "HELLO", "", "", "2", ""}, "1|123/2|HELLO/3|1/4|3$"},
    {0, false, {}, {"123", "HELLO", "", "", "2", "2"}, "1|123/2|HELLO/3|1/4|3/6|2$"},
    {1, false, {}, {"", "", "A", "0", "3", "1"}, "1|/2|/3|A/4|0/5|3/6|1$"},
    {1, false, {}, {"", "", "12", "12", "12", "12"}, "1|/2|/3|1/4|3/5|1/6|12$"},
    {1, false, {}, {"", "", kE, kE, kE, ""}, Frame("1|/2|/3|") + kE + Frame("/4|") + kE + Frame("/5|") + kE + "\x03"},
    {4, false, {}, {"", kAlfa26, "", "", "", ""}, Frame("1|/2|") + kAlfa24 + Frame("/3|1/4|3/5|1$")},
    {3, false, {}, {"", kAlfa26, "", "", "", ""}, Frame("1|/2|") + kAlfa26 + Frame("/3|1/4|3/5|1$")},
    {4, true, {2, 0, 0, 0, 0, 0}, {"", kAlfa26, "", "", "", ""}, Frame("2|") + kAlfa26 + "\x03"},
    {1, true, {1, 0, 0, 0, 0, 0}, {"1", "", "", "", "", ""}, "1|1$"},
    {1, true, {0, 0, 0, 0, 0, 0}, {"123", "HELLO", "", "", "2", ""}, "$"},
    {1, true, {7, -1, 0, 99, 0, 0}, {"123", "HELLO", "", "", "2", ""}, "$"},
    {0, true, {6, 5, 1, 0, 4, 1}, {"123", "HELLO", "", "2", "2", "12"}, "6|1/5|2/1|123/4|2/1|123$"},
    // Values that go out must have single-byte codes and no control characters.
    {1, false, {}, {"123", "HEL\x03LO", "", "", "", ""}, "", false},
    {1, false, {}, {"1\x1E" "2", "", "", "", "", ""}, "", false},
    {1, false, {}, {"", "", "", "", "", "\t"}, "", false},
    {1, false, {}, {"", "smile \xF0\x9F\x98\x80", "", "", "", ""}, "", false},
    {1, false, {}, {"", "\xC3", "", "", "", ""}, "", false},
    {1, false, {}, {"", "\xE2\x82\xAC 5", "\x01\x02", "", "", ""}, "", true},
    {4, false, {}, {"", std::string(24, 'x') + "\x01", "", "", "", ""}, "", true},
    {1, false, {}, {"", std::string(24, 'x') + "\x01", "", "", "", ""}, "", false},
    {1, true, {1, 0, 0, 0, 0, 0}, {"", "HEL\x03LO", "", "", "", ""}, "", true},
    {1, true, {2, 0, 0, 0, 0, 0}, {"", "HEL\x03LO", "", "", "", ""}, "", false},
};
// clang-format on

TEST(Format, BlockDataAndWhatMayBeSent) {
    for (const Block& b : kBlocks) {
        Settings s;
        s.emulation = b.emulatie;
        s.variableBlock = b.configurable ? 1 : 0;
        s.blockFields = b.set;
        Call e;
        std::tie(e.address, e.text, e.bleep, e.callType, e.transmissions, e.priority) =
            std::tie(b.call[0], b.call[1], b.call[2], b.call[3], b.call[4], b.call[5]);
        SCOPED_TRACE(b.call[0] + "/" + b.call[1] + "/" + b.call[5]);
        EXPECT_EQ(b.data.empty() ? "" : HexOf(BuildEspaData(s, e)), HexOf(Frame(b.data)));
        EXPECT_EQ(BlockValuesSendable(s, e), b.sendable);
    }
    Call e;
    std::tie(e.address, e.text, e.bleep, e.transmissions) = std::tie("55", "Hi", "B", "22");
    const char* records[] = {"", "1|55/", "2|Hi/", "3|B/", "4|3/", "5|1/", "6|1/", ""};
    for (std::int16_t item = -1; item < 8; ++item)
        EXPECT_EQ(BuildEspaRecord(item, e), Frame(item < 0 ? "" : records[item])) << item;
}

TEST(Format, BlockCheckAndStateWords) {
    EXPECT_EQ(BlockCheck(""), 0);
    EXPECT_EQ(BlockCheck(Frame("1^1|1$")), 0x2F);
    EXPECT_EQ(BlockCheck(Frame("2^1|123/7|3$")), 0x28);
    EXPECT_EQ(BlockCheck("\xFF\x0F"), 0xF0);
    const std::string head = Frame("2^1|123/7|");
    // clang-format off
    const std::pair<std::string, const char*> words[] = {
        {head + "1", "BUSY"}, {head + "2", "QUEUE"}, {head + "3", "PAGED"}, {head + "4", "ABSENT"},
        {head + "5", "TERMINATED"}, {head + "6", "ERROR"}, {head + "7", "SPEECHPAGED"},
        {head + "8", "ERROR"}, {head, "ERROR"}, {"23", "PAGED"}, {"2", "ERROR"}, {"", "ERROR"},
        {Frame("2^1|123"), "ERROR"},  // no '7' US: the second character, STX
        {Frame("7|4/7|3"), "ABSENT"}};
    // clang-format on
    for (const auto& [block, word] : words)
        EXPECT_EQ(StateText(ParseCallStatus(block)), word) << block;
}

TEST(Format, SendTextSendsSingleByteCodesAndFoldsEachIntoBcc) {
    EngineRig t;
    std::int16_t& bcc = t.State().bcc;
    bcc = 0x10;
    EXPECT_TRUE(engine::SendText(t.Steps(), "A\xE2\x82\xAC\xC3\xA9\x03"));
    EXPECT_EQ(ToHex(t.line.TakeWritten()), "41 80 E9 03");
    EXPECT_EQ(bcc, 0x10 ^ 0x41 ^ 0x80 ^ 0xE9 ^ 0x03);
    bcc = 0;
    EXPECT_FALSE(engine::SendText(t.Steps(), "AB\xF0\x9F\x98\x80-D"));  // stops at the emoji
    EXPECT_EQ(ToHex(t.line.TakeWritten()), "41 42");
    EXPECT_EQ(bcc, 0x41 ^ 0x42);
    t.line.open = false;  // a failing write: folded, then false
    EXPECT_FALSE(engine::SendText(t.Steps(), "XY"));
    EXPECT_EQ(bcc, 0x41 ^ 0x42 ^ 'X');
}

TEST(Text, NumbersAndSingleByteCodes) {
    EXPECT_EQ(TrimStr(0) + TrimStr(123) + TrimStr(-7) + TrimStr(-32768), "0123732768");
    EXPECT_EQ(SignedStr(-1) + SignedStr(42), "-142");
    const std::pair<std::int16_t, const char*> digits[] = {{0, "0"},  {9, "9"},  {10, "A"},
                                                           {15, "F"}, {16, "?"}, {-3, "3"}};
    for (const auto& [n, digit] : digits)
        EXPECT_EQ(HexDigit(n), digit) << n;
    EXPECT_EQ(HexByte(0) + HexByte(6) + HexByte(0x41) + HexByte(255) + HexByte(256),
              "0x000x060x410xFF0xxx");
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
    EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC caf\xC3\xA9"), std::string("\x80 caf\xE9"));
    for (const char* none : {"\xE2\x98\x83", "\xC3", "\xC0\x80"})  // snowman, cut, overlong
        EXPECT_FALSE(Utf8ToAnsi(none).has_value()) << none;
    EXPECT_EQ(Utf8Length("\xC3\xA9t\xC3\xA9"), 3u);
    EXPECT_EQ(Utf8Left("\xC3\xA9t\xC3\xA9", 2), "\xC3\xA9t");
    EXPECT_EQ(Utf8Left("ab", 24), "ab");
}

}  // namespace
}  // namespace zelvano::test
