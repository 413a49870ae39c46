// comports.cfg reader on arbitrary bytes: never crashes, names only ports 1..8,
// and every device it returns came from the text (no blanks around it).
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "serial/PortMap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& [number, device] : zelvano::ParsePortMap(text)) {
        FUZZ_CHECK(number >= zelvano::kFirstPortNumber && number <= zelvano::kLastPortNumber);
        FUZZ_CHECK(!device.empty());
        FUZZ_CHECK(text.find(device) != std::string_view::npos);
        FUZZ_CHECK(device.front() != ' ' && device.back() != ' ');
        FUZZ_CHECK(device.find('\n') == std::string::npos);
    }
    return 0;
}
