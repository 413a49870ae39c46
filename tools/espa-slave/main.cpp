// espa-slave: an ESPA 4.4.4 paging system on a pseudo-terminal, a serial
// device or a TCP port. This file is the I/O loop; the protocol lives in
// EspaSlave.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <utility>

#include "CommandLine.h"
#include "EspaSlave.h"
#include "Listener.h"
#include "PortIo.h"

namespace zelvano::slave {
namespace {

constexpr int kIdleWaitMs = 1000;
constexpr int kReopenEveryMs = 1000;
// Answers a TCP master has not read; past this it is dropped, not waited for.
constexpr std::size_t kMaxUnsentBytes = 1 << 20;

int signalPipe[2] = {-1, -1};

void OnSignal(int signalNumber) {
    const int saved = errno;
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool InstallSignals() {
    if (::pipe(signalPipe) != 0)
        return false;
    for (int fd : signalPipe)
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signalNumber, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string TimeOfDay() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(millis));
    return text;
}

class Printer {
  public:
    explicit Printer(const Options& options) : quiet_(options.quiet) {}

    void Line(const std::string& text) {
        std::printf("%s %s\n", TimeOfDay().c_str(), text.c_str());
    }
    // A complaint about what the master sent is shown once a second at most,
    // with a count of the ones held back: garbage on a TCP port, byte by byte,
    // must not write a line per byte.
    void Lines(const std::vector<LogLine>& lines) {
        const std::int64_t now = NowMs();
        for (auto& [kind, held] : complaints_) {
            if (held.count > 0 && now - held.sinceMs >= 1000)
                Line("   (" + std::to_string(std::exchange(held.count, 0)) + " more \"" + kind +
                     "\" not shown)");
        }
        for (const LogLine& line : lines) {
            if (quiet_ && line.level != LogLevel::Essential)
                continue;
            const auto kind = std::find_if(std::begin(kComplaints), std::end(kComplaints),
                                           [&](const char* k) { return line.text.starts_with(k); });
            if (kind != std::end(kComplaints)) {
                Held& held = complaints_[*kind];
                if (now - held.sinceMs < 1000) {
                    ++held.count;
                    continue;
                }
                held.sinceMs = now;
            }
            Line(line.text);
        }
    }
    void Flush() { std::fflush(stdout); }

  private:
    static constexpr const char* kComplaints[] = {"<- unexpected", "<- block broken off",
                                                  "<- unknown block", "<- block unfinished"};
    struct Held {
        std::int64_t sinceMs = -1000;
        int count = 0;
    };
    bool quiet_;
    std::map<std::string, Held> complaints_;
};

// The symlink and the path file scripts wait for; both go again at the end.
class PathFiles {
  public:
    PathFiles(const Options& options, Printer& printer) : options_(options), printer_(printer) {}
    ~PathFiles() { Remove(); }

    void Create(const std::string& path) {
        path_ = path;
        std::error_code ignored;
        if (!options_.linkPath.empty()) {
            std::filesystem::remove(options_.linkPath, ignored);
            std::filesystem::create_symlink(path, options_.linkPath, linkError_);
            if (linkError_)
                printer_.Line("cannot create link " + options_.linkPath + ": " +
                              linkError_.message());
        }
        if (!options_.ptyFile.empty())
            WritePathFile();
    }

    void Remove() {
        std::error_code ignored;
        if (!options_.linkPath.empty() && !linkError_ &&
            std::filesystem::read_symlink(options_.linkPath, ignored) == path_)
            std::filesystem::remove(options_.linkPath, ignored);
        if (!options_.ptyFile.empty() && fileWritten_)
            std::filesystem::remove(options_.ptyFile, ignored);
        fileWritten_ = false;
        linkError_ = std::make_error_code(std::errc::no_such_file_or_directory);
    }

  private:
    // Through a temporary file and a rename, so a reader never sees half a path.
    void WritePathFile() {
        const std::string temporary = options_.ptyFile + ".tmp";
        {
            std::ofstream out(temporary, std::ios::trunc);
            out << path_ << '\n';
            if (!out) {
                printer_.Line("cannot write " + temporary);
                return;
            }
        }
        std::error_code error;
        std::filesystem::rename(temporary, options_.ptyFile, error);
        if (error)
            printer_.Line("cannot write " + options_.ptyFile + ": " + error.message());
        fileWritten_ = !error;
    }

    const Options& options_;
    Printer& printer_;
    std::string path_;
    std::error_code linkError_;
    bool fileWritten_ = false;
};

bool OpenPort(Port& port, const Options& options, Printer& printer) {
    std::string error;
    const bool opened =
        options.port.device.empty() ? port.OpenPty(error) : port.OpenDevice(options.port, error);
    if (!opened)
        printer.Line("cannot open the port: " + error);
    return opened;
}

// With --listen the port holds the master's connection, if any, and the
// listener takes the next one once that is gone.
class Loop {
  public:
    Loop(const Options& options, Port& port, Printer& printer, Listener* listener)
        : options_(options),
          port_(port),
          printer_(printer),
          listener_(listener),
          slave_(options.slave) {}

    int Run() {
        while (true) {
            const bool accepting = listener_ != nullptr && NowMs() >= acceptAtMs_;
            pollfd fds[3] = {{port_.IsOpen() ? port_.Fd() : -1, POLLIN, 0},
                             {signalPipe[0], POLLIN, 0},
                             {accepting ? listener_->Fd() : -1, POLLIN, 0}};
            if (!pending_.empty())
                fds[0].events |= POLLOUT;
            const int ready = ::poll(fds, 3, WaitMs());
            if (ready < 0 && errno != EINTR) {
                printer_.Line(std::string("poll failed: ") + std::strerror(errno));
                return 1;
            }
            if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
                printer_.Line("stopped by a signal");
                return 0;
            }
            if (ready > 0 && fds[0].revents != 0 && !Read(fds[0].revents))
                return 1;
            if (ready > 0 && fds[2].revents != 0)
                Accept();
            Work();
        }
    }

  private:
    int WaitMs() const {
        const std::int64_t now = NowMs();
        std::int64_t until = now + kIdleWaitMs;
        if (const auto wake = slave_.NextWakeMs())
            until = std::min(until, *wake);
        if (!port_.IsOpen() && listener_ == nullptr)
            until = std::min(until, reopenAtMs_);
        if (listener_ != nullptr && now < acceptAtMs_)
            until = std::min(until, acceptAtMs_);
        return static_cast<int>(std::clamp<std::int64_t>(until - now, 0, kIdleWaitMs));
    }

    // False when the loop must end.
    bool Read(short events) {
        auto bytes = port_.ReadAvailable();
        // A hang-up or error with nothing to read would wake poll() at once
        // forever: treat it as a failed port rather than spin.
        if (bytes && bytes->empty() && (events & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            errno = EIO;
            bytes.reset();
        }
        if (bytes) {
            slave_.Receive(*bytes, NowMs());
            return true;
        }
        if (port_.IsSocket()) {  // the master closing reads as EIO
            printer_.Line("master " + port_.Path() +
                          (errno == EIO ? std::string(" disconnected")
                                        : std::string(" lost: ") + std::strerror(errno)));
            DropMaster();
            return true;
        }
        printer_.Line("port " + port_.Path() + " failed: " + std::strerror(errno));
        if (port_.IsPty())
            return false;
        // A serial adapter that was pulled out: try again every second.
        port_.Close();
        pending_.clear();
        reopenAtMs_ = NowMs() + kReopenEveryMs;
        return true;
    }

    void Accept() {
        std::string peer;
        const int fd = listener_->Accept(peer);
        if (fd < 0) {
            // Out of descriptors, say: the socket stays readable, so pause
            // rather than spin.
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR &&
                errno != ECONNABORTED) {
                printer_.Line(std::string("accept failed: ") + std::strerror(errno));
                acceptAtMs_ = NowMs() + kReopenEveryMs;
            }
            return;
        }
        if (port_.IsOpen()) {
            ::close(fd);
            std::fprintf(stderr, "%s refused master %s: master %s is being served\n",
                         TimeOfDay().c_str(), peer.c_str(), port_.Path().c_str());
            return;
        }
        port_.AdoptSocket(fd, peer);
        printer_.Line("master " + peer + " connected");
    }

    // Back to waiting for a master; the next one starts with a clean line.
    void DropMaster() {
        port_.Close();
        pending_.clear();
        slave_.DropLine(NowMs());
    }

    void Work() {
        const std::int64_t now = NowMs();
        if (listener_ == nullptr && !port_.IsOpen() && now >= reopenAtMs_) {
            std::string error;
            if (port_.OpenDevice(options_.port, error))
                printer_.Line("port " + port_.Path() + " open again");
            else
                reopenAtMs_ = now + kReopenEveryMs;
        }
        slave_.Tick(now);
        pending_ += slave_.TakeDue(now);
        printer_.Lines(slave_.TakeLog());
        Write();
        printer_.Flush();
    }

    void Write() {
        if (pending_.empty())
            return;
        if (!port_.IsOpen()) {
            pending_.clear();
            return;
        }
        if (port_.IsSocket() && pending_.size() > kMaxUnsentBytes) {
            printer_.Line("master " + port_.Path() + " reads nothing; connection dropped");
            DropMaster();
            return;
        }
        const long written = port_.WriteSome(pending_);
        if (written < 0) {
            printer_.Line(std::string("write failed: ") + std::strerror(errno));
            pending_.clear();
            return;
        }
        pending_.erase(0, static_cast<std::size_t>(written));
    }

    const Options& options_;
    Port& port_;
    Printer& printer_;
    Listener* listener_;
    EspaSlave slave_;
    std::string pending_;
    std::int64_t reopenAtMs_ = 0;
    std::int64_t acceptAtMs_ = 0;
};

int Main(int argc, char** argv) {
    ParseResult parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fprintf(stderr, "espa-slave: %s\nTry 'espa-slave --help'.\n", parsed.error.c_str());
        return 2;
    }
    Options& options = *parsed.options;
    if (options.help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }
    options.slave.seed = options.seed.value_or(std::random_device{}());
    if (!InstallSignals()) {
        std::perror("espa-slave: pipe");
        return 1;
    }
    Printer printer(options);
    Port port;
    Listener listener;
    if (options.listen) {
        std::string error;
        if (!listener.Open(*options.listen, error)) {
            printer.Line("cannot listen: " + error);
            return 1;
        }
        std::printf("LISTEN %s\n", listener.Address().c_str());
    } else {
        if (!OpenPort(port, options, printer))
            return 1;
        std::printf("%s %s\n", port.IsPty() ? "PTY" : "DEVICE", port.Path().c_str());
    }
    // Out before the path file appears: whoever waits for that file finds the line too.
    std::fflush(stdout);
    PathFiles files(options, printer);
    files.Create(options.listen ? listener.Address() : port.Path());
    for (const std::string& line : DescribeOptions(options))
        printer.Line(line);
    printer.Line("waiting for the master; Ctrl+C stops");
    printer.Flush();
    const int status = Loop(options, port, printer, options.listen ? &listener : nullptr).Run();
    port.Close();
    files.Remove();
    printer.Flush();
    return status;
}

}  // namespace
}  // namespace zelvano::slave

int main(int argc, char** argv) {
    return zelvano::slave::Main(argc, argv);
}
