#include "driver/DataDir.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace zelvano {

namespace fs = std::filesystem;

namespace {

// The files a preconfigured copy may carry; logs are never copied.
constexpr const char* kSeedFiles[] = {"espa.set", "comports.cfg"};

fs::path Resolved(const fs::path& dir) {
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(dir, error);
    return error ? dir.lexically_normal() : resolved;
}

// Copies through a temporary name, so an interrupted copy never leaves a
// short file that would pass for the settings. Empty on success, else why.
std::string CopyWhole(const fs::path& from, const fs::path& to) {
    const fs::path temporary = to.string() + ".tmp";
    std::error_code error;
    fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, error);
    if (!error)
        fs::rename(temporary, to, error);
    if (!error)
        return {};
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return "cannot copy " + from.string() + " to " + to.parent_path().string() + ": " +
           error.message();
}

std::string SeedFromProgramDir(const fs::path& programDir, const fs::path& userDataDir) {
    std::string problem;
    for (const char* name : kSeedFiles) {
        std::error_code error;
        if (fs::is_regular_file(programDir / name, error) &&
            !fs::exists(userDataDir / name, error)) {
            const std::string failed = CopyWhole(programDir / name, userDataDir / name);
            if (problem.empty())
                problem = failed;
        }
    }
    return problem;
}

// Why the user's folder cannot hold the files, empty when it can.
std::string PrepareUserDir(const fs::path& userDataDir) {
    if (userDataDir.empty() || !userDataDir.is_absolute()) {
        return "no usable user data folder is known (\"" + userDataDir.string() + "\")";
    }
    std::error_code error;
    fs::create_directories(userDataDir, error);
    if (error)
        return userDataDir.string() + ": " + error.message();
    if (!DirIsWritable(userDataDir))
        return userDataDir.string() + ": not writable";
    return {};
}

}  // namespace

std::vector<fs::path> SystemProgramDirs(const fs::path& installedBinDir) {
    std::vector<fs::path> dirs = {"/usr/bin",   "/usr/sbin",       "/bin",
                                  "/sbin",      "/usr/local/bin",  "/usr/local/sbin",
                                  "/usr/games", "/usr/local/games"};
    if (!installedBinDir.empty())
        dirs.push_back(installedBinDir);
    return dirs;
}

bool IsSystemProgramDir(const fs::path& dir, const std::vector<fs::path>& systemDirs) {
    const fs::path resolved = Resolved(dir);
    return std::any_of(systemDirs.begin(), systemDirs.end(),
                       [&](const fs::path& system) { return Resolved(system) == resolved; });
}

bool DirIsWritable(const fs::path& dir) {
    std::error_code error;
    if (!fs::is_directory(dir, error))
        return false;
    std::string probe = (dir / ".zelvano-write-probe-XXXXXX").string();
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0)
        return errno != EACCES && errno != EPERM && errno != EROFS;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

DataDirChoice ChooseDataDir(const fs::path& programDir, const fs::path& userDataDir,
                            const std::vector<fs::path>& systemDirs) {
    const bool installed = IsSystemProgramDir(programDir, systemDirs);
    if (!installed && DirIsWritable(programDir)) {
        return {programDir, {}};
    }
    if (const std::string problem = PrepareUserDir(userDataDir); !problem.empty()) {
        if (installed)
            return {userDataDir, problem};
        return {programDir, problem};
    }
    return {userDataDir, SeedFromProgramDir(programDir, userDataDir)};
}

}  // namespace zelvano
