// --listen's end of the line: a TCP socket the master connects to.
// Non-blocking; errors come back as results.
#pragma once

#include <sys/socket.h>

#include <string>

#include "CommandLine.h"

namespace zelvano::slave {

class Listener {
  public:
    Listener() = default;
    ~Listener() { Close(); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Looks the host up and listens on the first of its addresses that binds;
    // the error names the cause (unknown host, port in use...).
    bool Open(const ListenAddress& where, std::string& error);
    void Close();

    int Fd() const { return fd_; }
    // Where it listens, with the port the system chose for port 0.
    const std::string& Address() const { return address_; }

    // A waiting connection, non-blocking, and the peer's address; -1 when
    // there is none (errno tells why).
    int Accept(std::string& peer);

  private:
    int fd_ = -1;
    std::string address_;
};

// "127.0.0.1:5000", or "[::1]:5000" for IPv6.
std::string AddressText(const sockaddr* address, socklen_t size);

}  // namespace zelvano::slave
