#include "RuntimeFolder.h"

#include <cstdlib>

namespace zelvano {

std::filesystem::path RuntimeFolder() {
    for (const char* variable : {"ZELVANO_RUNTIME_DIR", "RUNTIME_DIRECTORY"}) {
        if (const char* value = std::getenv(variable); value && *value)
            return value;
    }
    std::error_code ec;
    if (std::filesystem::is_directory("/run/zelvano", ec))
        return "/run/zelvano";
    if (const char* value = std::getenv("XDG_RUNTIME_DIR"); value && *value)
        return std::filesystem::path(value) / "zelvano";
    return {};
}

}  // namespace zelvano
