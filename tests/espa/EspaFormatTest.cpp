// Blocks, the block check character, status words and SendEspaString.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Text.h"
#include "espa/EspaFormat.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

using test::Hex;
using test::ToHex;

std::vector<std::uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}
std::string Text(const std::string& hex) {
    const auto b = Hex(hex);
    return {b.begin(), b.end()};
}

CallBufferEntry HelloCall() {
    CallBufferEntry e;
    e.Address = "123";
    e.Alfa = "HELLO";
    e.NrOfTx = "2";
    e.Status = "NEW";
    return e;
}

Settings WithEmulatie(std::int16_t emulatie) {
    Settings s;
    s.Emulatie = emulatie;
    return s;
}

Settings Configurable(std::array<std::int16_t, 6> set) {
    Settings s;
    s.EspaEnable = 1;
    s.EspaSet = set;
    return s;
}

// The whole block as the engine frames it: SOH, header, STX, data, check.
std::string Block(char header, const std::string& data) {
    std::string body(1, header);
    body += static_cast<char>(STX);
    body += data;
    return std::string(1, static_cast<char>(SOH)) + body + static_cast<char>(BlockCheck(body));
}

TEST(EspaFormat, FixedLayoutCallBlockWithCheckCharacter5C) {
    const std::string data = BuildEspaData(WithEmulatie(1), HelloCall());
    EXPECT_EQ(ToHex(Bytes(data)),
              "31 1F 31 32 33 1E 32 1F 48 45 4C 4C 4F 1E 33 1F 31 1E 34 1F 33 1E 35 1F 32 03");
    EXPECT_EQ(ToHex(Bytes(Block('1', data))),
              "01 31 02 31 1F 31 32 33 1E 32 1F 48 45 4C 4C 4F 1E 33 1F 31 1E 34 1F 33 1E 35 "
              "1F 32 03 5C");
}

TEST(EspaFormat, PhilipsLeavesOutRecord5AndPriorityIsAppendedUnchanged) {
    CallBufferEntry call = HelloCall();
    EXPECT_EQ(ToHex(Bytes(BuildEspaData(WithEmulatie(0), call))),
              "31 1F 31 32 33 1E 32 1F 48 45 4C 4C 4F 1E 33 1F 31 1E 34 1F 33 03");
    call.Priority = "2";
    const std::string data = BuildEspaData(WithEmulatie(0), call);
    EXPECT_EQ(ToHex(Bytes(data.substr(data.size() - 5))), "1E 36 1F 32 03");
    EXPECT_EQ(data.find("\x1E"
                        "5\x1F"),
              std::string::npos);
}

TEST(EspaFormat, ConfigurableLayoutAddressOnlyEndsIn2F) {
    CallBufferEntry call;
    call.Address = "1";
    const std::string data = BuildEspaData(Configurable({1, 0, 0, 0, 0, 0}), call);
    EXPECT_EQ(ToHex(Bytes(data)), "31 1F 31 03");
    EXPECT_EQ(ToHex(Bytes(Block('1', data))), "01 31 02 31 1F 31 03 2F");
}

TEST(EspaFormat, ConfigurableLayoutAllUnusedIsEtxAlone) {
    EXPECT_EQ(ToHex(Bytes(BuildEspaData(Configurable({0, 0, 0, 0, 0, 0}), HelloCall()))), "03");
    // Values outside 1..6 count as unused.
    EXPECT_EQ(ToHex(Bytes(BuildEspaData(Configurable({7, -1, 0, 99, 0, 0}), HelloCall()))), "03");
}

TEST(EspaFormat, ConfigurableLayoutFollowsSetOrderAndRepeats) {
    CallBufferEntry call = HelloCall();
    call.Priority = "12";
    call.CallType = "2";
    // Priority defaults to "1" here, record 5 comes for Philips too, and a
    // doubled item gives its record twice.
    Settings s = Configurable({6, 5, 1, 0, 4, 1});
    s.Emulatie = 0;
    EXPECT_EQ(BuildEspaData(s, call), Text("36 1F 31 1E 35 1F 32 1E 31 1F 31 32 33 1E 34 1F 32 1E "
                                           "31 1F 31 32 33 03"));
}

TEST(EspaFormat, OneCharacterFieldsGetDefaultsByCharacterCount) {
    struct Case {
        std::string bleep, callType, nrOfTx, priority;
        std::string expectTail;  // records 3..6 of the fixed layout, Emulatie 1
    };
    const std::vector<Case> cases = {
        {"", "", "", "", "1E 33 1F 31 1E 34 1F 33 1E 35 1F 31 03"},
        {"A", "0", "3", "1", "1E 33 1F 41 1E 34 1F 30 1E 35 1F 33 1E 36 1F 31 03"},
        {"12", "12", "12", "12", "1E 33 1F 31 1E 34 1F 33 1E 35 1F 31 1E 36 1F 31 32 03"},
        // One character of two UTF-8 bytes is one character: kept.
        {"\xC3\xA9", "\xC3\xA9", "\xC3\xA9", "", "1E 33 1F C3 A9 1E 34 1F C3 A9 1E 35 1F C3 A9 03"},
    };
    for (const Case& c : cases) {
        CallBufferEntry e;
        e.Bleep = c.bleep;
        e.CallType = c.callType;
        e.NrOfTx = c.nrOfTx;
        e.Priority = c.priority;
        const std::string data = BuildEspaData(WithEmulatie(1), e);
        const std::string tail = Text(c.expectTail);
        ASSERT_GE(data.size(), tail.size());
        EXPECT_EQ(ToHex(Bytes(data.substr(data.size() - tail.size()))), c.expectTail)
            << "bleep '" << c.bleep << "'";
    }
}

TEST(EspaFormat, OoperonCutsAlfaTo24CharactersInFixedLayoutOnly) {
    std::string alfa;
    for (int i = 0; i < 30; ++i)
        alfa += "\xC3\xA9";  // 30 characters, 60 bytes
    CallBufferEntry call;
    call.Alfa = alfa;
    const std::string cut = BuildEspaData(WithEmulatie(4), call);
    EXPECT_NE(cut.find("2\x1F" + Utf8Left(alfa, 24) + "\x1E"), std::string::npos);
    EXPECT_EQ(cut.find(Utf8Left(alfa, 25)), std::string::npos);
    // Other makes and the configurable layout send it whole.
    EXPECT_NE(BuildEspaData(WithEmulatie(3), call).find(alfa), std::string::npos);
    Settings conf = Configurable({2, 0, 0, 0, 0, 0});
    conf.Emulatie = 4;
    EXPECT_EQ(BuildEspaData(conf, call), "2\x1F" + alfa + "\x03");
}

TEST(EspaFormat, BuildEspaRecordForEveryItem) {
    CallBufferEntry e;
    e.Address = "55";
    e.Alfa = "Hi";
    e.Bleep = "B";
    e.CallType = "";
    e.NrOfTx = "22";
    e.Priority = "";
    const std::vector<std::pair<std::int16_t, std::string>> cases = {
        {0, ""},
        {1,
         "1\x1F"
         "55\x1E"},
        {2, "2\x1FHi\x1E"},
        {3,
         "3\x1F"
         "B\x1E"},
        {4,
         "4\x1F"
         "3\x1E"},
        {5,
         "5\x1F"
         "1\x1E"},
        {6,
         "6\x1F"
         "1\x1E"},
        {7, ""},
        {-1, ""},
    };
    for (const auto& [item, expected] : cases) {
        EXPECT_EQ(BuildEspaRecord(item, e), expected) << "item " << item;
    }
}

TEST(EspaFormat, BlockCheckIsExclusiveOrOfEveryByte) {
    EXPECT_EQ(BlockCheck(""), 0);
    EXPECT_EQ(BlockCheck(Text("32 02 31 1F 31 32 33 1E 37 1F 33 03")), 0x28);
    EXPECT_EQ(BlockCheck(Text("FF 0F")), 0xF0);
}

TEST(EspaFormat, ParseCallStatusWords) {
    const std::string head = Text("32 02 31 1F 31 32 33 1E 37 1F");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {head + "1", "BUSY"},
        {head + "2", "QUEUE"},
        {head + "3", "PAGED"},
        {head + "4", "ABSENT"},
        {head + "5", "TERMINATED"},
        {head + "6", "ERROR"},
        {head + "7", "SPEECHPAGED"},
        {head + "8", "ERROR"},
        {head, "ERROR"},                          // '7' US with nothing after it
        {Text("32 02 31 1F 31 32 33"), "ERROR"},  // no '7' US: the STX is taken
        {"23", "PAGED"},                          // no '7' US: the second character
        {"2", "ERROR"},
        {"", "ERROR"},
        // The first '7' US counts.
        {Text("37 1F 34 1E 37 1F 33"), "ABSENT"},
    };
    for (const auto& [block, word] : cases) {
        EXPECT_EQ(ParseCallStatus(block), word) << ToHex(Bytes(block));
    }
}

TEST(EspaFormat, BlockValuesSendableLooksOnlyAtValuesThatGoOut) {
    struct Case {
        const char* name;
        Settings settings;
        CallBufferEntry call;
        bool sendable;
    };
    CallBufferEntry plain = HelloCall();
    CallBufferEntry ctrlAlfa = plain;
    ctrlAlfa.Alfa = "HEL\x03LO";
    CallBufferEntry ctrlAddress = plain;
    ctrlAddress.Address =
        "1\x1E"
        "2";
    CallBufferEntry tabPriority = plain;
    tabPriority.Priority = "\t";
    CallBufferEntry noCode = plain;
    noCode.Alfa = "smile \xF0\x9F\x98\x80";
    CallBufferEntry badUtf8 = plain;
    badUtf8.Alfa = "\xC3";
    CallBufferEntry euro = plain;
    euro.Alfa = "\xE2\x82\xAC 5";  // euro sign has a single-byte code
    CallBufferEntry ctrlLongBleep = plain;
    ctrlLongBleep.Bleep = "\x01\x02";  // replaced by the default "1"
    CallBufferEntry ctrlPastCut = plain;
    ctrlPastCut.Alfa = std::string(24, 'x') + "\x01";
    const std::vector<Case> cases = {
        {"plain", WithEmulatie(1), plain, true},
        {"control in Alfa", WithEmulatie(1), ctrlAlfa, false},
        {"RS in Address", WithEmulatie(1), ctrlAddress, false},
        {"tab as Priority", WithEmulatie(1), tabPriority, false},
        {"no single-byte code", WithEmulatie(1), noCode, false},
        {"malformed UTF-8", WithEmulatie(1), badUtf8, false},
        {"euro sign", WithEmulatie(1), euro, true},
        {"defaulted Bleep", WithEmulatie(1), ctrlLongBleep, true},
        {"cut off by Ooperon", WithEmulatie(4), ctrlPastCut, true},
        {"not cut without Ooperon", WithEmulatie(1), ctrlPastCut, false},
        {"field not in the set", Configurable({1, 0, 0, 0, 0, 0}), ctrlAlfa, true},
        {"field in the set", Configurable({2, 0, 0, 0, 0, 0}), ctrlAlfa, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BlockValuesSendable(c.settings, c.call), c.sendable) << c.name;
    }
}

TEST(SendEspaString, SendsEachCharacterAsItsSingleByteCodeAndFoldsBcc) {
    test::TestApp t;
    t.line.open = true;
    t.app.espa.Bcc = 0x10;
    EXPECT_EQ(SendEspaString(t.app, "A\xE2\x82\xAC\xC3\xA9\x03"), 0);
    EXPECT_EQ(ToHex(t.line.TakeWritten()), "41 80 E9 03");
    EXPECT_EQ(t.app.espa.Bcc, 0x10 ^ 0x41 ^ 0x80 ^ 0xE9 ^ 0x03);
}

TEST(SendEspaString, StopsAtFirstCharacterWithoutSingleByteCode) {
    test::TestApp t;
    t.line.open = true;
    EXPECT_EQ(SendEspaString(t.app,
                             "AB\xF0\x9F\x98\x80"
                             "CD"),
              -1);
    EXPECT_EQ(ToHex(t.line.TakeWritten()), "41 42");
    EXPECT_EQ(t.app.espa.Bcc, 0x41 ^ 0x42);
}

TEST(SendEspaString, PortFailureReportsMinusOneAfterFoldingTheCharacter) {
    test::TestApp t;  // line closed: every write fails
    EXPECT_EQ(SendEspaString(t.app, "XY"), -1);
    EXPECT_TRUE(t.line.TakeWritten().empty());
    EXPECT_EQ(t.app.espa.Bcc, 'X');
}

}  // namespace
}  // namespace zelvano
