#include "settings/SmallFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zelvano {
namespace {

// Up to size bytes, retried after an interruption; -1 on a read error.
long ReadAll(int fd, char* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<long>(got);
}

}  // namespace

SmallFile ReadSmallFile(const std::filesystem::path& file, std::size_t maxBytes) {
    SmallFile result;
    const std::string tooLarge =
        file.string() + ": larger than " + std::to_string(maxBytes / 1024) + " kB";
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        result.found = errno != ENOENT && errno != ENOTDIR;
        if (result.found)
            result.problem = file.string() + ": cannot be read: " + std::strerror(errno);
        return result;
    }
    result.found = true;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result.problem = file.string() + ": not a regular file";
    } else if (static_cast<std::size_t>(st.st_size) > maxBytes) {
        result.problem = tooLarge;
    } else {
        // One byte more than allowed shows a file that grew since fstat.
        std::string bytes(maxBytes + 1, '\0');
        const long got = ReadAll(fd, bytes.data(), bytes.size());
        if (got < 0) {
            result.problem = file.string() + ": cannot be read: " + std::strerror(errno);
        } else if (static_cast<std::size_t>(got) > maxBytes) {
            result.problem = tooLarge;
        } else {
            bytes.resize(static_cast<std::size_t>(got));
            result.bytes = std::move(bytes);
            result.mode = st.st_mode & 07777;
        }
    }
    ::close(fd);
    return result;
}

}  // namespace zelvano
