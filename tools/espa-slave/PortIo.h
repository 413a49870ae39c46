// The simulator's end of the line: a pseudo-terminal it creates, a serial
// device it opens, or a master's TCP connection. Non-blocking; errors come
// back as results.
#pragma once

#include <termios.h>

#include <optional>
#include <string>
#include <string_view>

#include "CommandLine.h"

namespace zelvano::slave {

class Port {
  public:
    Port() = default;
    ~Port() { Close(); }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    // Creates a pseudo-terminal in raw mode; path() is the name for the master.
    bool OpenPty(std::string& error);
    // Opens and sets up a serial device; its settings are restored by Close.
    bool OpenDevice(const PortOptions& options, std::string& error);
    // Takes over an accepted TCP connection; path() is the master's address.
    void AdoptSocket(int fd, std::string peer);
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    bool IsPty() const { return isPty_; }
    bool IsSocket() const { return isSocket_; }
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }

    // What is waiting, up to 64 KiB (the rest on the next call), "" when
    // nothing is; nullopt when the port failed (errno tells why).
    std::optional<std::string> ReadAvailable();
    // Writes what the port takes now; returns how many bytes, or -1 on failure.
    long WriteSome(std::string_view bytes);

  private:
    int fd_ = -1;
    // Our own handle on the terminal side of the pty: while it is open the pty
    // never hangs up, so the master may close and reopen the path at will.
    int ptyTerminalFd_ = -1;
    bool isPty_ = false;
    bool isSocket_ = false;
    std::string path_;
    std::optional<termios> saved_;
};

// termios speed constant for a bit rate; nullopt when there is none.
std::optional<speed_t> SpeedConstant(int baud);

// Sets up a raw 8-bit line (or 7 bits, parity, stop bits, flow control) on the
// attributes; leaves everything else as it was.
void MakeRawLine(termios& attributes, const PortOptions& options);

}  // namespace zelvano::slave
