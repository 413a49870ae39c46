// Block building and sending with arbitrary field texts: the bytes on the line
// are exactly the text's single-byte codes, the block check character is their
// exclusive or, and a block is either sent whole or refused.
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "common/Text.h"
#include "espa/EngineSteps.h"
#include "espa/EspaFormat.h"
#include "support/TestApp.h"

namespace {

// Splits the input into six fields at 0xFF bytes (the rest is field text).
std::string NextField(std::string_view& in) {
    const auto cut = in.find('\xFF');
    std::string field(in.substr(0, cut));
    in = cut == std::string_view::npos ? std::string_view{} : in.substr(cut + 1);
    return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8)
        return 0;
    zelvano::test::FuzzApp t;
    auto& s = t.settings;
    s.emulation = static_cast<std::int16_t>(data[0] % 7);
    s.variableBlock = static_cast<std::int16_t>(data[1] & 1);
    for (int i = 0; i < 6; ++i)
        s.blockFields[i] = static_cast<std::int16_t>(data[2 + i] % 8);
    std::string_view rest(reinterpret_cast<const char*>(data + 8), size - 8);

    zelvano::CallRequest e;
    e.address = NextField(rest);
    e.text = NextField(rest);
    e.bleep = NextField(rest);
    e.callType = NextField(rest);
    e.transmissions = NextField(rest);
    e.priority = NextField(rest);

    const std::string block = "1\x02" + zelvano::BuildEspaData(s, e);
    FUZZ_CHECK(block.back() == '\x03');

    t.line.open = true;
    zelvano::engine::Context steps{s, t.calls, t.log, t.link, {}, {}, {}};
    const bool sent = zelvano::engine::SendText(steps, block);
    const auto written = t.line.TakeWritten();
    const auto expected = zelvano::Utf8ToAnsi(block);
    if (expected) {
        FUZZ_CHECK(sent);
        FUZZ_CHECK(std::string(written.begin(), written.end()) == *expected);
        FUZZ_CHECK(steps.s.bcc == zelvano::BlockCheck(*expected));
    } else {
        FUZZ_CHECK(!sent);
        // What went out is a proper prefix of the text: nothing after the
        // first character that has no single-byte code.
        FUZZ_CHECK(written.size() < zelvano::Utf8Length(block));
    }
    return 0;
}
