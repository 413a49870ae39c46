#include "Listener.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zelvano::slave {

std::string AddressText(const sockaddr* address, socklen_t size) {
    char host[NI_MAXHOST] = {};
    char port[NI_MAXSERV] = {};
    if (getnameinfo(address, size, host, sizeof host, port, sizeof port,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "(unknown address)";
    if (address->sa_family == AF_INET6)
        return std::string("[") + host + "]:" + port;
    return std::string(host) + ":" + port;
}

bool Listener::Open(const ListenAddress& where, std::string& error) {
    Close();
    addrinfo hints{};  // family 0: IPv4 and IPv6 alike
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    const std::string port = std::to_string(where.port);
    addrinfo* found = nullptr;
    if (const int failed = getaddrinfo(where.host.c_str(), port.c_str(), &hints, &found)) {
        error = "cannot look up host \"" + where.host + "\": " + gai_strerror(failed);
        return false;
    }
    for (const addrinfo* at = found; at != nullptr && fd_ < 0; at = at->ai_next) {
        const std::string text = AddressText(at->ai_addr, at->ai_addrlen);
        const int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                at->ai_protocol);
        const int on = 1;
        // A slave started again at once binds the same port, even while the
        // last one's connection still lingers in TIME_WAIT.
        if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            ::bind(fd, at->ai_addr, at->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
            if (errno == EADDRINUSE)
                error = "port " + port + " on " + where.host +
                        " is in use (another program listens there)";
            else if (errno == EADDRNOTAVAIL)
                error = text + ": not an address of this machine";
            else
                error = text + ": " + std::strerror(errno);
            if (fd >= 0)
                ::close(fd);
            continue;
        }
        fd_ = fd;
    }
    freeaddrinfo(found);
    if (fd_ < 0)
        return false;
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &size);
    address_ = AddressText(reinterpret_cast<const sockaddr*>(&bound), size);
    return true;
}

void Listener::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

int Listener::Accept(std::string& peer) {
    sockaddr_storage from{};
    socklen_t size = sizeof from;
    const int fd =
        ::accept4(fd_, reinterpret_cast<sockaddr*>(&from), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return -1;
    peer = AddressText(reinterpret_cast<const sockaddr*>(&from), size);
    // Units of a few bytes, each waiting for its answer: send them at once.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

}  // namespace zelvano::slave
