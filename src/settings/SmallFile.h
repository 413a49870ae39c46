// Reading a small file that may not be what it seems: opened without blocking
// (a FIFO or a device in its place would hang the program for good) and read
// only when it is a regular file of at most maxBytes.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace zelvano {

struct SmallFile {
    bool found = false;   // something is at the path
    std::string bytes;    // the file's bytes when it was read
    std::string problem;  // why it was not read, naming the file; empty when read or missing
    unsigned mode = 0;    // its permission bits when it was read (a secret's may be checked)
};

SmallFile ReadSmallFile(const std::filesystem::path& file, std::size_t maxBytes);

}  // namespace zelvano
