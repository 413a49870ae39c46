// Wires the core and the windows together.
#include <cstdio>

int main() {
    std::puts("Zelvano: the windows are not built yet.");
    return 0;
}
