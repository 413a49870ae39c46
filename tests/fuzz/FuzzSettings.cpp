// espa.set reader on arbitrary bytes: it never crashes, and what it reads
// survives a write and a second read unchanged.
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "settings/SettingsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const zelvano::Settings first = zelvano::ParseSettings(bytes);
    const zelvano::Settings again = zelvano::ParseSettings(zelvano::FormatSettings(first));
    FUZZ_CHECK(again == first);
    return 0;
}
