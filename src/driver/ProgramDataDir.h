// The data folder of a program run from installBinDir or as a portable copy:
// its own writable folder, else $XDG_DATA_HOME/zelvano (~/.local/share/zelvano
// when that is unset or relative).
#pragma once

#include "driver/DataDir.h"

namespace zelvano {

DataDirChoice ChooseProgramDataDir(const char* installBinDir);

}  // namespace zelvano
