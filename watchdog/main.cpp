// Corvane's program entry. Until its watch is built it only states that it does nothing yet.
#include <cstdio>

int main() {
    std::puts("Corvane: the watchdog is not built yet; exiting.");
    return 0;
}
