# The instruction-set levels to build, chosen by the target architecture: never by the
# machine that builds, so that cross builds and every slice of a macOS universal binary get
# their own. Each level is src/level.cpp compiled with the primitives of one header of
# src/simd/ and its flags; adding an instruction set is one header and one line here.
#
# VELQUIN_SIMD caps the levels: "all" (the default), "off" (the scalar kernels only), or a
# level's name, which builds that architecture's levels up to it and no others.

set(VELQUIN_SIMD "all" CACHE STRING
    "Highest vectorised level built: all, off, or one of x86-64-v3, x86-64-v4, neon")

# name | architecture | primitives (src/simd/<name>.hpp, struct <name>) | flags..., lowest
# first within an architecture. -Wno-psabi: GCC notes that wide vectors would be passed
# differently without AVX; these vectors never cross into another translation unit.
set(VELQUIN_KNOWN_LEVELS
    "x86-64-v3|x86_64|avx2|-march=x86-64-v3|-mtune=generic|-Wno-psabi"
    "x86-64-v4|x86_64|avx512|-march=x86-64-v4|-mtune=generic|-Wno-psabi"
    "neon|aarch64|neon")

# The architectures the build targets, by their names in the level table.
function(velquin_target_architectures out)
  if(APPLE AND CMAKE_OSX_ARCHITECTURES)
    set(names ${CMAKE_OSX_ARCHITECTURES})
  else()
    set(names ${CMAKE_SYSTEM_PROCESSOR})
  endif()
  set(architectures "")
  foreach(name IN LISTS names)
    string(TOLOWER "${name}" lower)
    if(lower MATCHES "^(x86_64|amd64|x64)$")
      list(APPEND architectures "${name}=x86_64")
    elseif(lower MATCHES "^(aarch64|arm64)$")
      list(APPEND architectures "${name}=aarch64")
    endif()
  endforeach()
  set(${out} "${architectures}" PARENT_SCOPE)
endfunction()

# Sets `out` to the levels to build, each "level|architecture|primitives|flag|flag...",
# with level names as identifiers (x86_64_v3). In a build for several architectures at once
# each flag reaches only its architecture's compiler (clang's -Xarch_<name>). The vector
# layer is written with GCC and clang's vector types: MSVC builds the scalar kernels only.
# So does GCC for Windows, which spills wide vectors to stack slots it cannot align there
# (GCC bug 54412).
function(velquin_levels out)
  set(${out} "" PARENT_SCOPE)
  if(VELQUIN_SIMD STREQUAL "off" OR MSVC OR CMAKE_CXX_COMPILER_FRONTEND_VARIANT STREQUAL "MSVC"
     OR (WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"))
    return()
  endif()
  # A cap keeps only its own architecture's levels, up to itself.
  set(cap_index -1)
  set(index 0)
  foreach(known IN LISTS VELQUIN_KNOWN_LEVELS)
    string(REPLACE "|" ";" fields "${known}")
    list(GET fields 0 name)
    list(GET fields 1 architecture)
    if(name STREQUAL VELQUIN_SIMD)
      set(cap_index ${index})
      set(cap_architecture ${architecture})
    endif()
    math(EXPR index "${index} + 1")
  endforeach()
  if(NOT VELQUIN_SIMD STREQUAL "all" AND cap_index EQUAL -1)
    message(FATAL_ERROR "VELQUIN_SIMD=${VELQUIN_SIMD}: expected all, off or a level of: "
                        "${VELQUIN_KNOWN_LEVELS}")
  endif()

  velquin_target_architectures(targets)
  list(LENGTH targets target_count)
  set(result "")
  foreach(target IN LISTS targets)
    string(REPLACE "=" ";" target "${target}")
    list(GET target 0 target_name)
    list(GET target 1 target_architecture)
    set(index 0)
    foreach(known IN LISTS VELQUIN_KNOWN_LEVELS)
      string(REPLACE "|" ";" fields "${known}")
      list(POP_FRONT fields name architecture simd)
      if(architecture STREQUAL target_architecture AND (VELQUIN_SIMD STREQUAL "all" OR
         (architecture STREQUAL cap_architecture AND index LESS_EQUAL cap_index)))
        string(REPLACE "-" "_" entry "${name}")
        string(APPEND entry "|${architecture}|${simd}")
        foreach(flag IN LISTS fields)
          if(target_count GREATER 1)
            string(APPEND entry "|SHELL:-Xarch_${target_name} ${flag}")
          else()
            string(APPEND entry "|${flag}")
          endif()
        endforeach()
        list(APPEND result "${entry}")
      endif()
      math(EXPR index "${index} + 1")
    endforeach()
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()
