#include "windows/AboutText.h"

namespace zelvano {

std::string VersionCaption(int major, int minor) {
    return "Software version: " + std::to_string(major) + "." + std::to_string(minor);
}

std::string ProgramVersionCaption() {
    return VersionCaption(ZELVANO_VERSION_MAJOR, ZELVANO_VERSION_MINOR);
}

}  // namespace zelvano
