// The espa-slave executable itself: its command-line exits, the files it
// leaves for scripts, its pty across reopening, and a clean stop on signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/TestApp.h"

extern char** environ;

namespace zelvano::slave::test {
namespace {

using zelvano::test::ReadFileBytes;
using zelvano::test::TempDir;

// The program with its output in a file; waits and signals by process id.
class Program {
  public:
    Program(const std::vector<std::string>& args, const std::filesystem::path& output)
        : output_(output) {
        std::vector<std::string> all{ESPA_SLAVE_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // The exit code, or -1 when it did not end normally within five seconds.
    int Wait() {
        for (int i = 0; i < 500 && pid_ > 0; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    void Signal(int number) { kill(pid_, number); }
    std::string Output() const { return ReadFileBytes(output_); }
    bool Started() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
    std::filesystem::path output_;
};

// Waits for a file with a complete line; its text without the newline.
std::string WaitForLine(const std::filesystem::path& file) {
    for (int i = 0; i < 500; ++i) {
        std::string text = ReadFileBytes(file);
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
            return text;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}

// Opens the pty as the master program would: raw, no controlling terminal.
int OpenLine(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios attributes{};
    if (fd >= 0 && tcgetattr(fd, &attributes) == 0) {
        cfmakeraw(&attributes);
        tcsetattr(fd, TCSANOW, &attributes);
    }
    return fd;
}

// Writes bytes and collects the answer until `count` bytes came (or 5 s).
std::string Exchange(int fd, const std::string& bytes, std::size_t count) {
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        return "write failed";
    std::string answer;
    for (int i = 0; i < 50 && answer.size() < count; ++i) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buffer[64];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0)
                answer.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return answer;
}

TEST(SlaveProcessTest, HelpAndBadCommandLines) {
    TempDir dir;
    Program help({"--help"}, dir.path() / "help.txt");
    ASSERT_TRUE(help.Started());
    EXPECT_EQ(help.Wait(), 0);
    EXPECT_EQ(help.Output().rfind("Usage: espa-slave [OPTION]...", 0), 0u);
    EXPECT_NE(help.Output().find("EXAMPLES"), std::string::npos);

    Program bad({"--nak-block", "sometimes"}, dir.path() / "bad.txt");
    EXPECT_EQ(bad.Wait(), 2);
    EXPECT_NE(bad.Output().find("espa-slave: --nak-block: bad WHEN \"sometimes\""),
              std::string::npos)
        << bad.Output();

    Program missing({"--device", (dir.path() / "no-such-tty").string()}, dir.path() / "dev.txt");
    EXPECT_EQ(missing.Wait(), 1);
    EXPECT_NE(missing.Output().find("cannot open the port"), std::string::npos) << missing.Output();
}

TEST(SlaveProcessTest, PtyOutlivesTheMasterAndEverythingIsTidiedOnSignals) {
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        TempDir dir;
        const auto link = dir.path() / "espa";
        const auto pathFile = dir.path() / "pty.txt";
        Program slave({"--link", link.string(), "--pty-file", pathFile.string(), "--seed", "5"},
                      dir.path() / "out.txt");
        const std::string pty = WaitForLine(pathFile);
        ASSERT_FALSE(pty.empty()) << slave.Output();
        EXPECT_EQ(std::filesystem::read_symlink(link), pty);
        EXPECT_NE(slave.Output().find("PTY " + pty + "\n"), std::string::npos) << slave.Output();

        // Open through the link, close, open again: the pty answers each time.
        for (int round = 0; round < 2; ++round) {
            const int fd = OpenLine(link.string());
            ASSERT_GE(fd, 0);
            EXPECT_EQ(Exchange(fd,
                               "\x04"
                               "1\x05"
                               "2\x05",
                               1),
                      "\x06")
                << "round " << round;
            EXPECT_EQ(Exchange(fd, "2\x05", 1), "\x04") << "round " << round;
            close(fd);
        }
        slave.Signal(signalNumber);
        EXPECT_EQ(slave.Wait(), 0) << slave.Output();
        EXPECT_FALSE(std::filesystem::exists(pathFile));
        EXPECT_FALSE(std::filesystem::is_symlink(link));
        EXPECT_NE(slave.Output().find("stopped by a signal"), std::string::npos);
    }
}

TEST(SlaveProcessTest, DeviceIsSetRawAndRestoredAtTheEnd) {
    TempDir dir;
    int cable = -1;
    int device = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&cable, &device, name, nullptr, nullptr), 0);
    termios before{};
    ASSERT_EQ(tcgetattr(device, &before), 0);
    ASSERT_NE(before.c_lflag & ICANON, 0u);  // a fresh terminal edits lines
    fcntl(cable, F_SETFL, fcntl(cable, F_GETFL) | O_NONBLOCK);

    Program slave(
        {"--device", name, "--baud", "19200", "--parity", "E", "--data-bits", "7", "--quiet"},
        dir.path() / "out.txt");
    // Talk only once it has set the line up: before that the terminal would
    // echo the bytes back.
    for (int i = 0; i < 500 && slave.Output().find("DEVICE ") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Exchange(cable,
                       "1\x05"
                       "2\x05",
                       1),
              "\x06");
    termios during{};
    ASSERT_EQ(tcgetattr(device, &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(cfgetospeed(&during), B19200);
    // (A pseudo-terminal keeps 8 data bits whatever is asked, so the
    // character size cannot be checked here.)

    slave.Signal(SIGTERM);
    EXPECT_EQ(slave.Wait(), 0) << slave.Output();
    termios after{};
    ASSERT_EQ(tcgetattr(device, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_NE(slave.Output().find(std::string("DEVICE ") + name), std::string::npos)
        << slave.Output();
    // Quiet: the select and its ACK are not shown.
    EXPECT_EQ(slave.Output().find("(select)"), std::string::npos) << slave.Output();
    close(device);
    close(cable);
}

}  // namespace
}  // namespace zelvano::slave::test
