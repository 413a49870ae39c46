#include "PortIo.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace zelvano::slave {

namespace {

std::string Reason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace

std::optional<speed_t> SpeedConstant(int baud) {
    switch (baud) {
        case 50:
            return B50;
        case 75:
            return B75;
        case 110:
            return B110;
        case 134:
            return B134;
        case 150:
            return B150;
        case 200:
            return B200;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 1800:
            return B1800;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            return std::nullopt;
    }
}

void MakeRawLine(termios& attributes, const PortOptions& options) {
    cfmakeraw(&attributes);
    attributes.c_cflag |= CLOCAL | CREAD;
    attributes.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    attributes.c_cflag |= options.dataBits == 7 ? CS7 : CS8;
    if (options.parity != 'N')
        attributes.c_cflag |= PARENB;
    if (options.parity == 'O')
        attributes.c_cflag |= PARODD;
    if (options.stopBits == 2)
        attributes.c_cflag |= CSTOPB;
    if (options.rtsCts)
        attributes.c_cflag |= CRTSCTS;
    attributes.c_cc[VMIN] = 0;
    attributes.c_cc[VTIME] = 0;
    const speed_t speed = SpeedConstant(options.baud).value_or(B9600);
    cfsetispeed(&attributes, speed);
    cfsetospeed(&attributes, speed);
}

bool Port::OpenPty(std::string& error) {
    Close();
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        error = Reason("posix_openpt");
        return false;
    }
    char name[128] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        error = Reason("pseudo-terminal set-up");
        ::close(master);
        return false;
    }
    const int terminal = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios attributes{};
    if (terminal < 0 || tcgetattr(terminal, &attributes) != 0) {
        error = Reason(std::string("open ") + name);
        if (terminal >= 0)
            ::close(terminal);
        ::close(master);
        return false;
    }
    // Raw from the start: no echo of our answers back to us, no line editing,
    // until the master sets its own line settings.
    MakeRawLine(attributes, PortOptions{});
    if (tcsetattr(terminal, TCSANOW, &attributes) != 0 || !SetNonBlocking(master)) {
        error = Reason("pseudo-terminal settings");
        ::close(terminal);
        ::close(master);
        return false;
    }
    fd_ = master;
    ptyTerminalFd_ = terminal;
    isPty_ = true;
    isSocket_ = false;
    path_ = name;
    return true;
}

bool Port::OpenDevice(const PortOptions& options, std::string& error) {
    Close();
    const int fd = ::open(options.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = Reason("open " + options.device);
        return false;
    }
    termios attributes{};
    if (tcgetattr(fd, &attributes) != 0) {
        error = Reason(options.device + " is no serial device");
        ::close(fd);
        return false;
    }
    const termios saved = attributes;
    MakeRawLine(attributes, options);
    if (tcsetattr(fd, TCSANOW, &attributes) != 0) {
        error = Reason("line settings on " + options.device);
        ::close(fd);
        return false;
    }
    tcflush(fd, TCIOFLUSH);
    fd_ = fd;
    isPty_ = false;
    isSocket_ = false;
    path_ = options.device;
    saved_ = saved;
    return true;
}

void Port::AdoptSocket(int fd, std::string peer) {
    Close();
    fd_ = fd;
    isPty_ = false;
    isSocket_ = true;
    path_ = std::move(peer);
}

void Port::Close() {
    if (fd_ >= 0) {
        if (saved_)
            tcsetattr(fd_, TCSANOW, &*saved_);
        ::close(fd_);
    }
    if (ptyTerminalFd_ >= 0)
        ::close(ptyTerminalFd_);
    fd_ = -1;
    ptyTerminalFd_ = -1;
    saved_.reset();
}

std::optional<std::string> Port::ReadAvailable() {
    // A cap, so a master that sends without end cannot hold the loop here.
    constexpr std::size_t kMaxBytes = 64 * 1024;
    std::string bytes;
    char chunk[512];
    while (bytes.size() < kMaxBytes) {
        const ssize_t count = ::read(fd_, chunk, sizeof chunk);
        if (count > 0) {
            bytes.append(chunk, static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return bytes;
        // End of file or an error: the device is gone (or the pty hung up).
        if (!bytes.empty())
            return bytes;
        if (count == 0)
            errno = EIO;
        return std::nullopt;
    }
    return bytes;
}

long Port::WriteSome(std::string_view bytes) {
    while (true) {
        const ssize_t count = ::write(fd_, bytes.data(), bytes.size());
        if (count >= 0)
            return count;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return -1;
    }
}

}  // namespace zelvano::slave
