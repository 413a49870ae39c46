// Where espa.set, comports.cfg, Log/ and DebugLog/ live.
//
// A portable copy (its own writable folder: the build tree, the demo folder,
// a folder on a stick) keeps everything beside the program. An installed
// program's folder (/usr/bin) is no place for data, even for root who could
// write there: settings saved into it would be lost to the next upgrade or
// fail silently for everyone else. Such a program uses the user's data folder
// instead, for every file alike.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zelvano {

struct DataDirChoice {
    std::filesystem::path dir;
    // Why settings or logs may not be saved there, for the operator (empty
    // when all is well).
    std::string problem;
};

// The folders that hold installed programs: the standard binary folders and
// the one this build installs into (when known).
std::vector<std::filesystem::path> SystemProgramDirs(const std::filesystem::path& installedBinDir);

// True when dir is one of systemDirs (compared after resolving links, so /bin
// on a merged-/usr system counts as /usr/bin).
bool IsSystemProgramDir(const std::filesystem::path& dir,
                        const std::vector<std::filesystem::path>& systemDirs);

// True when a file can be created in dir: probes with a scratch file of a
// unique name that is removed again. Only a refusal (no rights, read-only
// mount) counts as not writable; a passing failure such as a full disk does
// not move the data elsewhere.
bool DirIsWritable(const std::filesystem::path& dir);

// The program's folder when it is writable and not a system folder, else the
// user's data folder (absolute), created when missing. A user's folder that
// lacks espa.set or comports.cfg takes a copy of the program folder's, so a
// preconfigured read-only copy keeps its configuration. When the user's
// folder cannot be used the choice says why: an installed program still
// points at it (nothing is ever written into a system folder), a portable
// copy keeps its own folder so its files are still read.
DataDirChoice ChooseDataDir(const std::filesystem::path& programDir,
                            const std::filesystem::path& userDataDir,
                            const std::vector<std::filesystem::path>& systemDirs);

}  // namespace zelvano
