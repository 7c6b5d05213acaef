# Checks which instruction-set levels cmake/levels.cmake chooses for targets that this
# machine cannot build for: each level goes to its own architecture, and a macOS universal
# binary passes each level's flags to its architecture's compiler only.
#   cmake -P .ci/levels-check.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/levels.cmake)

function(expect description expected)
  velquin_levels(levels)
  if(NOT levels STREQUAL expected)
    message(FATAL_ERROR "${description}:\n  chose    ${levels}\n  expected ${expected}")
  endif()
  message(STATUS "${description}: ${levels}")
endfunction()

set(x86 "x86_64_v3|x86_64|avx2|-march=x86-64-v3|-mtune=generic|-Wno-psabi"
        "x86_64_v4|x86_64|avx512|-march=x86-64-v4|-mtune=generic|-Wno-psabi")
set(neon "neon|aarch64|neon")

set(CMAKE_SYSTEM_PROCESSOR x86_64)
expect("Linux x86-64" "${x86}")
set(VELQUIN_SIMD x86-64-v3)
expect("Linux x86-64, capped at AVX2" "x86_64_v3|x86_64|avx2|-march=x86-64-v3|-mtune=generic|-Wno-psabi")
set(VELQUIN_SIMD off)
expect("Linux x86-64, scalar only" "")
set(VELQUIN_SIMD all)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
expect("Linux aarch64" "${neon}")
set(CMAKE_SYSTEM_PROCESSOR riscv64)
expect("Linux riscv64" "")
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MSVC 1)
expect("Windows x86-64, MSVC" "")
unset(MSVC)
set(WIN32 1)
set(CMAKE_CXX_COMPILER_ID GNU)
expect("Windows x86-64, MinGW GCC" "")
set(CMAKE_CXX_COMPILER_ID Clang)
expect("Windows x86-64, clang" "${x86}")
unset(WIN32)

set(APPLE 1)
set(CMAKE_SYSTEM_PROCESSOR x86_64)  # the build machine: an Intel Mac
set(CMAKE_OSX_ARCHITECTURES arm64)
expect("macOS arm64, built on an Intel Mac" "${neon}")
set(CMAKE_OSX_ARCHITECTURES x86_64 arm64)
set(universal
    "x86_64_v3|x86_64|avx2|SHELL:-Xarch_x86_64 -march=x86-64-v3|SHELL:-Xarch_x86_64 -mtune=generic|SHELL:-Xarch_x86_64 -Wno-psabi"
    "x86_64_v4|x86_64|avx512|SHELL:-Xarch_x86_64 -march=x86-64-v4|SHELL:-Xarch_x86_64 -mtune=generic|SHELL:-Xarch_x86_64 -Wno-psabi"
    "${neon}")
expect("macOS universal2" "${universal}")
