// Prints the x86-64 levels that the module's CPU test finds on this machine, e.g.
// "x86-64-v3 x86-64-v4": built with each compiler that builds wheels, it shows that the
// test works in that compiler's build (some runtime libraries leave the CPU model of
// __builtin_cpu_supports empty), to be compared with the CPU's flags in /proc/cpuinfo.
#include <cstdio>

#include "dispatch.hpp"

int main() {
#if VELQUIN_ARCH == VELQUIN_ARCH_x86_64
    const velquin::x86_levels levels = velquin::read_x86_levels();
    std::printf("%s%s\n", levels.v3 ? "x86-64-v3" : "", levels.v4 ? " x86-64-v4" : "");
#endif
    return 0;
}
