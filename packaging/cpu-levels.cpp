// Prints the levels of the list whose CPU tests pass on this machine, for the architecture
// it is compiled for, e.g. " x86_64_v3". Built with each compiler that builds wheels and
// with the host's, it shows that the tests work in that compiler's build (some runtime
// libraries leave the CPU model of __builtin_cpu_supports empty).
#include <cstdio>

#include "cpu.hpp"
#include "levels.hpp"

int main() {
    using namespace velquin;
    // As the module detects them: a level's test assumes every level before it passed.
    bool runs = true;
#define VELQUIN_PRINT_LEVEL(name, architecture, primitives, flags, short_calls, cpu_test) \
    if (VELQUIN_ARCH_##architecture == VELQUIN_ARCH) {                                    \
        runs = runs && (cpu_test);                                                        \
        if (runs) {                                                                       \
            std::printf(" %s", #name);                                                    \
        }                                                                                 \
    }
    VELQUIN_LEVELS(VELQUIN_PRINT_LEVEL)
    std::printf("\n");
    return 0;
}
