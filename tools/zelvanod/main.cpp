// zelvanod: the paging service. Being put together: it starts nothing yet.
#include <cstdio>

int main() {
    std::fprintf(stderr, "zelvanod: not ready yet\n");
    return 1;
}
