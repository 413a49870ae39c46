// Where zelvanod services put their local sockets, and where zelvano-call
// looks for them.
#pragma once

#include <filesystem>

namespace zelvano {

// $ZELVANO_RUNTIME_DIR, else systemd's $RUNTIME_DIRECTORY, else /run/zelvano
// when it exists, else $XDG_RUNTIME_DIR/zelvano; empty when none applies.
std::filesystem::path RuntimeFolder();

}  // namespace zelvano
