// What the CPU runs: the means by which the level list (level_list.hpp) states each level's
// CPU test. Compiled with the baseline flags only, as the module file is: it runs before
// any level is known to be safe.
#pragma once

#ifdef VELQUIN_LEVEL
#error "the CPU tests must not be compiled with a level's flags"
#endif

#include <initializer_list>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#endif

namespace velquin {

// A mask of the given bit positions.
constexpr unsigned bits(std::initializer_list<unsigned> positions) {
    unsigned mask = 0;
    for (const unsigned position : positions) {
        mask |= 1U << position;
    }
    return mask;
}

// x86 features, as bits of the CPUID leaves 1 (ECX), 7 (EBX) and 0x80000001 (ECX), and of
// XCR0, the register state the operating system saves (without it the registers may be
// lost on a context switch). Read with CPUID and XGETBV, not through the compilers' CPU
// support builtin: that relies on the compiler's runtime library to fill in the CPU model,
// and some leave it empty (zig's, which builds the Linux wheels).
struct x86_features {
    unsigned leaf1_ecx;
    unsigned leaf7_ebx;
    unsigned extended_ecx;
    unsigned xcr0;
};

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
inline x86_features read_x86_features() {
    constexpr unsigned leaf_features = 1;
    constexpr unsigned leaf_structured_features = 7;
    constexpr unsigned leaf_extended_features = 0x80000001U;
    constexpr unsigned osxsave = 1U << 27U;  // leaf 1 ECX: XGETBV may be executed
    x86_features found{};
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (__get_cpuid(leaf_features, &eax, &ebx, &ecx, &edx) != 0) {
        found.leaf1_ecx = ecx;
    }
    if (__get_cpuid_count(leaf_structured_features, 0, &eax, &ebx, &ecx, &edx) != 0) {
        found.leaf7_ebx = ebx;
    }
    if (__get_cpuid(leaf_extended_features, &eax, &ebx, &ecx, &edx) != 0) {
        found.extended_ecx = ecx;
    }
    if ((found.leaf1_ecx & osxsave) != 0) {
        unsigned xcr0_high = 0;
        __asm__("xgetbv" : "=a"(found.xcr0), "=d"(xcr0_high) : "c"(0));
    }
    return found;
}
#else
// Not an x86-64 CPU, or a compiler that builds no level here: no feature.
inline x86_features read_x86_features() {
    return {};
}
#endif

// True when the CPU has every feature in `required` (a test that holds for no CPU where
// this is not x86-64).
inline bool x86_cpu_has(const x86_features& required) {
    const x86_features found = read_x86_features();
    const auto has = [](unsigned value, unsigned mask) { return (value & mask) == mask; };
    return has(found.leaf1_ecx, required.leaf1_ecx) && has(found.leaf7_ebx, required.leaf7_ebx) &&
           has(found.extended_ecx, required.extended_ecx) && has(found.xcr0, required.xcr0);
}

}  // namespace velquin
