// Invariant checks for fuzz targets: a broken invariant aborts, which both
// libFuzzer and the replay tests report as a failure.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "support/TestApp.h"

#define FUZZ_CHECK(cond)                                                                      \
    do {                                                                                      \
        if (!(cond)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)

namespace zelvano::test {

// A fresh engine per input over fakes, in one program directory shared by
// every input (making and removing a directory per run would dominate).
struct FuzzApp {
    static const std::filesystem::path& Dir() {
        static TempDir dir;
        return dir.path();
    }
    FakeClock clock;
    FakeSerialLine line;
    Settings settings;
    EventLog log{settings, clock, Dir()};
    CallBuffer calls{log};
    ByteLink link{line, log};
    ProtocolEngine engine{settings, calls, log, link};
};

}  // namespace zelvano::test
