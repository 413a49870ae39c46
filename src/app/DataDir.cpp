#include "app/DataDir.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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

void SeedFromProgramDir(const fs::path& programDir, const fs::path& userDataDir) {
    for (const char* name : kSeedFiles) {
        std::error_code error;
        if (fs::is_regular_file(programDir / name, error) &&
            !fs::exists(userDataDir / name, error)) {
            fs::copy_file(programDir / name, userDataDir / name, fs::copy_options::skip_existing,
                          error);
        }
    }
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
    const fs::path probe = dir / (".zelvano-write-probe-" + std::to_string(::getpid()));
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

DataDirChoice ChooseDataDir(const fs::path& programDir, const fs::path& userDataDir,
                            const std::vector<fs::path>& systemDirs) {
    if (!IsSystemProgramDir(programDir, systemDirs) && DirIsWritable(programDir)) {
        return {programDir, true, {}};
    }
    if (userDataDir.empty())
        return {programDir, true, "no user data folder is known"};
    std::error_code error;
    fs::create_directories(userDataDir, error);
    if (error || !DirIsWritable(userDataDir)) {
        const std::string reason = error ? error.message() : "not writable";
        return {programDir, true, userDataDir.string() + ": " + reason};
    }
    SeedFromProgramDir(programDir, userDataDir);
    return {userDataDir, false, {}};
}

}  // namespace zelvano
