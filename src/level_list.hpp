// The instruction-set levels: the one list that the build (cmake/levels.cmake) and the
// module (levels.hpp, dispatch.hpp) take them from. Adding an instruction set is its
// primitives header in src/simd/ and one entry here.
//
//   LEVEL(name, architecture, primitives, "flags", short_calls, cpu_test)
//
// name          the level's namespace (level_<name>); VELQUIN_SIMD=<name> caps the build
//               at it, with - or _ (x86-64-v3)
// architecture  x86_64 or aarch64: the targets the level is built for
// primitives    src/simd/<primitives>.hpp, which defines struct <primitives>
// "flags"       the level's compiler flags (GCC and clang), separated by spaces
// short_calls   whether calls of fewer than short_call_positions run it: a wide level whose
//               blocks cost more to set up than they save on so few positions says false
// cpu_test      an expression (cpu.hpp), true when this CPU runs the level, given that it
//               runs every level listed before it for the same architecture
//
// Levels of one architecture are listed lowest first; the module runs the highest that
// was built and that the CPU runs. -Wno-psabi: GCC notes that wide vectors would be passed
// differently without AVX; these vectors never leave their level's translation unit.
// (CMake reads the entries as text: the flags are one string.)
#pragma once

// The x86-64 CPU tests name bits of CPUID leaf 1 ECX, leaf 7 EBX, leaf 0x80000001 ECX and
// of XCR0 (the register state the OS saves), in that order:
//   x86_64_v3  leaf 1: FMA 12, MOVBE 22, POPCNT 23, OSXSAVE 27, AVX 28, F16C 29;
//              leaf 7: BMI1 3, AVX2 5, BMI2 8; leaf 0x80000001: LZCNT 5; XCR0: SSE 1, AVX 2
//              (what -march=x86-64-v3 may emit);
//   x86_64_v4  adds leaf 7: AVX512F 16, DQ 17, CD 28, BW 30, VL 31; XCR0: opmask 5, upper
//              halves of ZMM 0-15 6, ZMM 16-31 7.
// clang-format off
#define VELQUIN_LEVELS(LEVEL)                                                                 \
    LEVEL(x86_64_v3, x86_64, avx2, "-march=x86-64-v3 -mtune=generic -Wno-psabi", true,        \
          x86_cpu_has({bits({12, 22, 23, 27, 28, 29}), bits({3, 5, 8}), bits({5}),            \
                       bits({1, 2})}))                                                        \
    LEVEL(x86_64_v4, x86_64, avx512, "-march=x86-64-v4 -mtune=generic -Wno-psabi", false,     \
          x86_cpu_has({0, bits({16, 17, 28, 30, 31}), 0, bits({5, 6, 7})}))                   \
    LEVEL(neon, aarch64, neon, "", true, true)
// clang-format on
