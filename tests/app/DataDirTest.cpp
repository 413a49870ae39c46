// Where the data files go: beside a writable portable copy, else in the
// user's data folder, seeded once from the program's folder.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "app/DataDir.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

enum ChildResult { kChildPassed = 0, kChildFailed = 1, kChildCannotDrop = 2 };

// Runs check in a child process without the rights to write into folders it
// does not own: as root (CI) the child becomes nobody, otherwise it runs as
// is. Returns the check's result.
ChildResult RunUnprivileged(const std::function<bool()>& check) {
    const pid_t pid = fork();
    if (pid < 0)
        return kChildCannotDrop;
    if (pid == 0) {
        if (geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (nobody == nullptr || setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 ||
                setuid(nobody->pw_uid) != 0) {
                _exit(kChildCannotDrop);
            }
        }
        try {
            _exit(check() ? kChildPassed : kChildFailed);
        } catch (...) {
            _exit(kChildFailed);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? static_cast<ChildResult>(WEXITSTATUS(status)) : kChildFailed;
}

#define EXPECT_UNPRIVILEGED(check)                                           \
    do {                                                                     \
        const ChildResult result = RunUnprivileged(check);                   \
        if (result == kChildCannotDrop)                                      \
            GTEST_SKIP() << "cannot run a child without root's rights here"; \
        EXPECT_EQ(result, kChildPassed);                                     \
    } while (false)

// A folder anyone may write into (the unprivileged child writes here).
fs::path OpenFolder(const fs::path& path) {
    fs::create_directories(path);
    fs::permissions(path, fs::perms::all);
    return path;
}

// A folder nobody but root may write into.
fs::path ClosedFolder(const fs::path& path) {
    fs::create_directories(path);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read |
                              fs::perms::others_exec);
    return path;
}

class DataDirTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::permissions(tmp.path(), fs::perms::all); }
    TempDir tmp;
    fs::path program = OpenFolder(tmp.path() / "portable");
    fs::path user = tmp.path() / "home" / ".local" / "share" / "zelvano";
};

TEST_F(DataDirTest, WritablePortableCopyKeepsItsFilesBesideTheProgram) {
    const DataDirChoice choice = ChooseDataDir(program, user, SystemProgramDirs("/opt/x/bin"));
    EXPECT_EQ(choice.dir, program);
    EXPECT_FALSE(fs::exists(user)) << "nothing is made in the user's folder";
}

TEST_F(DataDirTest, InstalledFolderIsNeverUsedEvenWhenWritable) {
    WriteFileBytes(program / "espa.set", "0\r\n5\r\n");
    WriteFileBytes(program / "comports.cfg", "COM1=/dev/ttyUSB0\n");
    const DataDirChoice choice = ChooseDataDir(program, user, SystemProgramDirs(program));
    EXPECT_EQ(choice.dir, user);
    EXPECT_TRUE(choice.problem.empty());
    // Seeded with the preconfigured files.
    EXPECT_EQ(ReadFileBytes(user / "espa.set"), "0\r\n5\r\n");
    EXPECT_EQ(ReadFileBytes(user / "comports.cfg"), "COM1=/dev/ttyUSB0\n");

    // The user's own saved settings win over the program folder's afterwards.
    WriteFileBytes(user / "espa.set", "0\r\n2\r\n");
    WriteFileBytes(program / "espa.set", "0\r\n7\r\n");
    EXPECT_EQ(ChooseDataDir(program, user, SystemProgramDirs(program)).dir, user);
    EXPECT_EQ(ReadFileBytes(user / "espa.set"), "0\r\n2\r\n");
}

TEST_F(DataDirTest, ReadOnlyProgramFolderMovesEveryFileToTheUsersFolder) {
    WriteFileBytes(program / "espa.set", "0\r\n4\r\n");
    ClosedFolder(program);
    const fs::path home = OpenFolder(tmp.path() / "home");
    EXPECT_UNPRIVILEGED([&] {
        const DataDirChoice choice = ChooseDataDir(program, user, SystemProgramDirs(""));
        return choice.dir == user && choice.problem.empty() &&
               ReadFileBytes(user / "espa.set") == "0\r\n4\r\n" && DirIsWritable(user);
    });
    EXPECT_TRUE(fs::exists(home / ".local" / "share" / "zelvano" / "espa.set"));
}

TEST_F(DataDirTest, UnusableUserFolderIsReportedAndNothingGoesIntoASystemFolder) {
    WriteFileBytes(tmp.path() / "file", "x");
    const fs::path underAFile = tmp.path() / "file" / "zelvano";
    // Installed: still the user's folder, never the system folder itself.
    const DataDirChoice installed = ChooseDataDir(program, underAFile, SystemProgramDirs(program));
    EXPECT_EQ(installed.dir, underAFile);
    EXPECT_NE(installed.problem.find(underAFile.string()), std::string::npos) << installed.problem;
    EXPECT_FALSE(
        ChooseDataDir(program, "relative/zelvano", SystemProgramDirs(program)).problem.empty());

    // A read-only portable copy keeps its own folder, so its files are read.
    ClosedFolder(program);
    EXPECT_UNPRIVILEGED([&] {
        const DataDirChoice portable = ChooseDataDir(program, underAFile, SystemProgramDirs(""));
        return portable.dir == program && !portable.problem.empty();
    });
}

TEST_F(DataDirTest, FailedCopyIsReportedAndLeavesNoShortFile) {
    WriteFileBytes(program / "espa.set", "0\r\n5\r\n");
    // A folder where the copy's temporary file must go makes the copy fail.
    fs::create_directories(user / "espa.set.tmp" / "x");
    const DataDirChoice choice = ChooseDataDir(program, user, SystemProgramDirs(program));
    EXPECT_EQ(choice.dir, user);
    EXPECT_NE(choice.problem.find("espa.set"), std::string::npos) << choice.problem;
    EXPECT_FALSE(fs::exists(user / "espa.set"));
}

TEST_F(DataDirTest, SystemFoldersAreRecognisedThroughLinks) {
    const fs::path link = tmp.path() / "bin-link";
    fs::create_directory_symlink(program, link);
    const auto systemDirs = SystemProgramDirs(program);
    EXPECT_TRUE(IsSystemProgramDir(link, systemDirs));
    EXPECT_TRUE(IsSystemProgramDir(program / ".", systemDirs));
    EXPECT_TRUE(IsSystemProgramDir("/usr/bin", systemDirs));
    EXPECT_FALSE(IsSystemProgramDir(tmp.path(), systemDirs));
    EXPECT_FALSE(IsSystemProgramDir("/usr/bin/zelvano-folder", systemDirs));
}

TEST_F(DataDirTest, WritabilityProbe) {
    EXPECT_TRUE(DirIsWritable(program));
    EXPECT_TRUE(fs::is_empty(program)) << "the probe file is removed again";
    EXPECT_FALSE(DirIsWritable(tmp.path() / "missing"));
    WriteFileBytes(tmp.path() / "plain", "x");
    EXPECT_FALSE(DirIsWritable(tmp.path() / "plain"));
    const fs::path closed = ClosedFolder(tmp.path() / "closed");
    EXPECT_UNPRIVILEGED([&] { return !DirIsWritable(closed); });
}

}  // namespace
}  // namespace zelvano
