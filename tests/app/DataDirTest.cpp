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
using test::WriteFileBytes;

// Runs check in a child without the rights to write into folders it does not
// own: as root (CI) the child becomes nobody. 0 passed, 1 failed, 2 cannot drop.
int RunUnprivileged(const std::function<bool()>& check) {
    const pid_t pid = fork();
    if (pid < 0)
        return 2;
    if (pid == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (geteuid() == 0 && (nobody == nullptr || setgroups(0, nullptr) != 0 ||
                               setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0))
            _exit(2);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

#define EXPECT_UNPRIVILEGED(check)                                           \
    do {                                                                     \
        const int result = RunUnprivileged(check);                           \
        if (result == 2)                                                     \
            GTEST_SKIP() << "cannot run a child without root's rights here"; \
        EXPECT_EQ(result, 0);                                                \
    } while (false)

// A folder anyone may write into (open) or only root (closed).
fs::path Folder(const fs::path& path, bool open) {
    fs::create_directories(path);
    fs::permissions(path, open ? fs::perms::all
                               : fs::perms::all & ~fs::perms::owner_write &
                                     ~fs::perms::group_write & ~fs::perms::others_write);
    return path;
}

class DataDirTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::permissions(tmp.path(), fs::perms::all); }
    test::TempDir tmp;
    fs::path program = Folder(tmp.path() / "portable", true);
    fs::path user = tmp.path() / "home" / ".local" / "share" / "zelvano";
};

TEST_F(DataDirTest, WritablePortableCopyKeepsItsFilesBesideTheProgram) {
    EXPECT_EQ(ChooseDataDir(program, user, SystemProgramDirs("/opt/x/bin")).dir, program);
    EXPECT_FALSE(fs::exists(user)) << "nothing is made in the user's folder";
}

TEST_F(DataDirTest, InstalledFolderIsNeverUsedEvenWhenWritableAndSeedsOnce) {
    WriteFileBytes(program / "espa.set", "0\r\n5\r\n");
    WriteFileBytes(program / "comports.cfg", "COM1=/dev/ttyUSB0\n");
    const DataDirChoice choice = ChooseDataDir(program, user, SystemProgramDirs(program));
    EXPECT_EQ(choice.dir, user);
    EXPECT_EQ(choice.problem, "");
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
    Folder(program, false);
    Folder(tmp.path() / "home", true);
    EXPECT_UNPRIVILEGED([&] {
        const DataDirChoice choice = ChooseDataDir(program, user, SystemProgramDirs(""));
        return choice.dir == user && choice.problem.empty() &&
               ReadFileBytes(user / "espa.set") == "0\r\n4\r\n" && DirIsWritable(user);
    });
    EXPECT_TRUE(fs::exists(user / "espa.set"));
}

TEST_F(DataDirTest, UnusableUserFolderIsReportedAndNothingGoesIntoASystemFolder) {
    WriteFileBytes(tmp.path() / "file", "x");
    const fs::path underAFile = tmp.path() / "file" / "zelvano";
    // Installed: still the user's folder, never the system folder itself.
    const DataDirChoice installed = ChooseDataDir(program, underAFile, SystemProgramDirs(program));
    EXPECT_EQ(installed.dir, underAFile);
    EXPECT_NE(installed.problem.find(underAFile.string()), std::string::npos) << installed.problem;
    EXPECT_NE(ChooseDataDir(program, "relative/zelvano", SystemProgramDirs(program)).problem, "");
    // A read-only portable copy keeps its own folder, so its files are read.
    Folder(program, false);
    EXPECT_UNPRIVILEGED([&] {
        const DataDirChoice portable = ChooseDataDir(program, underAFile, SystemProgramDirs(""));
        return portable.dir == program && !portable.problem.empty();
    });
}

TEST_F(DataDirTest, FailedCopyIsReportedAndLeavesNoShortFile) {
    WriteFileBytes(program / "espa.set", "0\r\n5\r\n");
    fs::create_directories(user / "espa.set.tmp" / "x");  // where the copy's temporary must go
    const DataDirChoice choice = ChooseDataDir(program, user, SystemProgramDirs(program));
    EXPECT_EQ(choice.dir, user);
    EXPECT_NE(choice.problem.find("espa.set"), std::string::npos) << choice.problem;
    EXPECT_FALSE(fs::exists(user / "espa.set"));
}

TEST_F(DataDirTest, SystemFoldersThroughLinksAndTheWritabilityProbe) {
    fs::create_directory_symlink(program, tmp.path() / "bin-link");
    const auto systemDirs = SystemProgramDirs(program);
    EXPECT_TRUE(IsSystemProgramDir(tmp.path() / "bin-link", systemDirs));
    EXPECT_TRUE(IsSystemProgramDir(program / ".", systemDirs));
    EXPECT_TRUE(IsSystemProgramDir("/usr/bin", systemDirs));
    EXPECT_FALSE(IsSystemProgramDir(tmp.path(), systemDirs));
    EXPECT_FALSE(IsSystemProgramDir("/usr/bin/zelvano-folder", systemDirs));

    EXPECT_TRUE(DirIsWritable(program));
    EXPECT_TRUE(fs::is_empty(program)) << "the probe file is removed again";
    EXPECT_FALSE(DirIsWritable(tmp.path() / "missing"));
    WriteFileBytes(tmp.path() / "plain", "x");
    EXPECT_FALSE(DirIsWritable(tmp.path() / "plain"));
    const fs::path closed = Folder(tmp.path() / "closed", false);
    EXPECT_UNPRIVILEGED([&] { return !DirIsWritable(closed); });
}

}  // namespace
}  // namespace zelvano
