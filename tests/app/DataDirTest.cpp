// Where the data files go: beside a writable portable copy, else in the user's folder.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include "driver/DataDir.h"
#include "support/TestApp.h"

namespace zelvano {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::WriteFileBytes;

// Runs check without the rights to write into folders one does not own: as
// root (CI) in a child process that becomes nobody.
template <class Check>
bool Unprivileged(Check check) {
    const passwd* nobody = getpwnam("nobody");
    const pid_t pid = geteuid() == 0 ? fork() : -1;
    if (pid == 0)
        _exit(setgroups(0, nullptr) || setgid(nobody->pw_gid) || setuid(nobody->pw_uid) ||
              !check());
    int status = 1;
    return pid < 0 ? check() : waitpid(pid, &status, 0) == pid && status == 0;
}

// A folder anyone may write into, or (closed) only root.
fs::path Folder(const fs::path& path, bool closed = false) {
    fs::create_directories(path);
    fs::permissions(path, closed ? fs::perms(0555) : fs::perms::all);
    return path;
}

struct DataDirTest : ::testing::Test {
    test::TempDir tmp;
    fs::path program = Folder(Folder(tmp.path()) / "portable");
    fs::path user = tmp.path() / "home" / ".local" / "share" / "zelvano";
};

TEST_F(DataDirTest, PortableCopyKeepsItsFilesAnInstalledOneUsesTheUsersFolder) {
    WriteFileBytes(program / "espa.set", "0\r\n5\r\n");
    WriteFileBytes(program / "comports.cfg", "COM1=/dev/ttyUSB0\n");
    EXPECT_EQ(ChooseDataDir(program, user, SystemProgramDirs("/opt/x/bin")).dir, program);
    EXPECT_FALSE(fs::exists(user)) << "nothing is made in the user's folder";
    // Installed: never its own folder, even when writable; seeded from it.
    const DataDirChoice choice = ChooseDataDir(program, user, SystemProgramDirs(program));
    EXPECT_EQ(choice.dir.string() + choice.problem, user.string());
    EXPECT_EQ(ReadFileBytes(user / "espa.set") + ReadFileBytes(user / "comports.cfg"),
              "0\r\n5\r\nCOM1=/dev/ttyUSB0\n");
    // The user's own saved settings win over the program folder's afterwards.
    WriteFileBytes(user / "espa.set", "0\r\n2\r\n");
    EXPECT_EQ(ChooseDataDir(program, user, SystemProgramDirs(program)).dir, user);
    EXPECT_EQ(ReadFileBytes(user / "espa.set"), "0\r\n2\r\n");
    // A copy that fails is reported and leaves no short file.
    fs::create_directories(tmp.path() / "other" / "espa.set.tmp" / "x");
    const DataDirChoice failed = ChooseDataDir(program, tmp.path() / "other", {program});
    EXPECT_NE(failed.problem.find("espa.set"), std::string::npos) << failed.problem;
    EXPECT_FALSE(fs::exists(tmp.path() / "other" / "espa.set"));
}

TEST_F(DataDirTest, UnusableFoldersAreReportedAndNothingGoesIntoASystemFolder) {
    WriteFileBytes(tmp.path() / "file", "x");
    const fs::path underAFile = tmp.path() / "file" / "zelvano";
    const DataDirChoice installed = ChooseDataDir(program, underAFile, SystemProgramDirs(program));
    EXPECT_EQ(installed.dir, underAFile);  // still not the system folder itself
    EXPECT_NE(installed.problem.find(underAFile.string()), std::string::npos) << installed.problem;
    EXPECT_NE(ChooseDataDir(program, "relative/zelvano", SystemProgramDirs(program)).problem, "");
    // A read-only program folder moves every file to the user's folder; if
    // that cannot be used either, the copy keeps its own so its files are read.
    WriteFileBytes(program / "espa.set", "0\r\n4\r\n");
    Folder(program, /*closed=*/true);
    Folder(tmp.path() / "home");
    EXPECT_TRUE(Unprivileged([&] {
        const DataDirChoice portable = ChooseDataDir(program, underAFile, SystemProgramDirs(""));
        const DataDirChoice moved = ChooseDataDir(program, user, SystemProgramDirs(""));
        return portable.dir == program && !portable.problem.empty() && moved.dir == user &&
               moved.problem.empty() && DirIsWritable(user) &&
               ReadFileBytes(user / "espa.set") == "0\r\n4\r\n";
    }));
}

TEST_F(DataDirTest, SystemFoldersThroughLinksAndTheWritabilityProbe) {
    fs::create_directory_symlink(program, tmp.path() / "link");
    std::string system;
    for (const fs::path& dir : {tmp.path() / "link", program / ".", fs::path("/usr/bin"),
                                tmp.path(), fs::path("/usr/bin/zelvano-folder")})
        system += IsSystemProgramDir(dir, SystemProgramDirs(program)) ? "1" : "0";
    EXPECT_EQ(system, "11100");
    EXPECT_TRUE(DirIsWritable(program) && fs::is_empty(program)) << "the probe file is removed";
    WriteFileBytes(tmp.path() / "plain", "x");
    EXPECT_FALSE(DirIsWritable(tmp.path() / "plain") || DirIsWritable(tmp.path() / "missing"));
    const fs::path closed = Folder(tmp.path() / "closed", /*closed=*/true);
    EXPECT_TRUE(Unprivileged([&] { return !DirIsWritable(closed); }));
}

}  // namespace
}  // namespace zelvano
