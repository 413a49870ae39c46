#include "common/Text.h"

#include <gtest/gtest.h>

namespace zelvano {
namespace {

TEST(TextTest, TrimStrDropsTheSignPosition) {
    EXPECT_EQ(TrimStr(0), "0");
    EXPECT_EQ(TrimStr(123), "123");
    EXPECT_EQ(TrimStr(-7), "7");
    EXPECT_EQ(TrimStr(-32768), "32768");
    EXPECT_EQ(SignedStr(-1), "-1");
    EXPECT_EQ(SignedStr(42), "42");
}

TEST(TextTest, HexDigitAndHexByte) {
    const struct {
        std::int16_t n;
        const char* digit;
    } digits[] = {{0, "0"}, {9, "9"}, {10, "A"}, {15, "F"}, {16, "?"}, {-3, "3"}};
    for (const auto& c : digits) EXPECT_EQ(HexDigit(c.n), c.digit) << c.n;

    EXPECT_EQ(HexByte(0), "0x00");
    EXPECT_EQ(HexByte(6), "0x06");
    EXPECT_EQ(HexByte(0x41), "0x41");
    EXPECT_EQ(HexByte(255), "0xFF");
    EXPECT_EQ(HexByte(256), "0xxx");
}

TEST(TextTest, AnsiRoundTripOfEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const auto back = Utf8ToAnsi(AnsiToUtf8(all));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, all);
}

TEST(TextTest, CharactersWithoutSingleByteCodeAreReported) {
    EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC"), std::string("\x80"));  // euro sign
    EXPECT_EQ(Utf8ToAnsi("caf\xC3\xA9"), std::string("caf\xE9"));
    EXPECT_FALSE(Utf8ToAnsi("\xE2\x98\x83").has_value());  // snowman
    EXPECT_FALSE(Utf8ToAnsi("\xC3").has_value());          // truncated sequence
    EXPECT_FALSE(Utf8ToAnsi("\xC0\x80").has_value());      // overlong NUL
}

TEST(TextTest, CharacterCountsAreNotByteCounts) {
    EXPECT_EQ(Utf8Length("\xC3\xA9t\xC3\xA9"), 3u);
    EXPECT_EQ(Utf8Left("\xC3\xA9t\xC3\xA9", 2), "\xC3\xA9t");
    EXPECT_EQ(Utf8Left("ab", 24), "ab");
}

}  // namespace
}  // namespace zelvano
