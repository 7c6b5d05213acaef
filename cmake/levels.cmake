# The instruction-set levels to build, from the list in src/level_list.hpp, chosen by the
# target architecture: never by the machine that builds, so that cross builds and every
# slice of a macOS universal binary get their own. Each level is src/level.cpp compiled with
# its primitives and its flags.
#
# VELQUIN_SIMD caps the levels: "all" (the default), "off" (the scalar kernels only), or a
# level's name (x86-64-v3 or x86_64_v3), which builds that architecture's levels up to it
# and no others.

set(VELQUIN_SIMD "all" CACHE STRING
    "Highest vectorised level built: all, off, or a level of src/level_list.hpp")

set(VELQUIN_LEVEL_LIST_FILE "${CMAKE_CURRENT_LIST_DIR}/../src/level_list.hpp")

# Sets `out` to the list's entries, each "name|architecture|primitives|flag|flag...".
function(velquin_known_levels out)
  file(READ "${VELQUIN_LEVEL_LIST_FILE}" text)
  string(REGEX REPLACE "//[^\n]*" "" text "${text}")
  string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" "" text "${text}")
  string(REGEX MATCHALL
         "LEVEL\\([ \t\r\n\\\\]*[A-Za-z0-9_]+,[ \t\r\n\\\\]*[A-Za-z0-9_]+,[ \t\r\n\\\\]*[A-Za-z0-9_]+,[ \t\r\n\\\\]*\"[^\"]*\""
         entries "${text}")
  set(result "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "[ \t\r\n\\\\]" "" fields "${entry}")
    string(REGEX MATCH "^LEVEL\\(([^,]+),([^,]+),([^,]+),\"" ignored "${fields}")
    set(row "${CMAKE_MATCH_1}|${CMAKE_MATCH_2}|${CMAKE_MATCH_3}")
    string(REGEX MATCH "\"([^\"]*)\"$" ignored "${entry}")
    separate_arguments(flags UNIX_COMMAND "${CMAKE_MATCH_1}")
    foreach(flag IN LISTS flags)
      string(APPEND row "|${flag}")
    endforeach()
    list(APPEND result "${row}")
  endforeach()
  if(NOT result)
    message(FATAL_ERROR "no level found in ${VELQUIN_LEVEL_LIST_FILE}")
  endif()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# The architectures the build targets, by their names in the level list.
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

# Sets `out` to the levels to build, each "name|architecture|primitives|flag|flag...". In a
# build for several architectures at once each flag reaches only its architecture's
# compiler (clang's -Xarch_<name>). The vector layer is written with GCC and clang's vector
# types: MSVC builds the scalar kernels only. So does GCC for Windows, which spills wide
# vectors to stack slots it cannot align there (GCC bug 54412).
function(velquin_levels out)
  set(${out} "" PARENT_SCOPE)
  velquin_known_levels(known_levels)
  string(REPLACE "-" "_" cap "${VELQUIN_SIMD}")
  # A cap keeps only its own architecture's levels, up to itself.
  set(cap_index -1)
  set(index 0)
  foreach(known IN LISTS known_levels)
    string(REPLACE "|" ";" fields "${known}")
    list(GET fields 0 name)
    list(GET fields 1 architecture)
    if(name STREQUAL cap)
      set(cap_index ${index})
      set(cap_architecture ${architecture})
    endif()
    math(EXPR index "${index} + 1")
  endforeach()
  if(NOT VELQUIN_SIMD MATCHES "^(all|off)$" AND cap_index EQUAL -1)
    message(FATAL_ERROR "VELQUIN_SIMD=${VELQUIN_SIMD}: expected all, off or a level of: "
                        "${known_levels}")
  endif()
  if(VELQUIN_SIMD STREQUAL "off" OR MSVC OR CMAKE_CXX_COMPILER_FRONTEND_VARIANT STREQUAL "MSVC"
     OR (WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"))
    return()
  endif()

  velquin_target_architectures(targets)
  list(LENGTH targets target_count)
  set(result "")
  foreach(target IN LISTS targets)
    string(REPLACE "=" ";" target "${target}")
    list(GET target 0 target_name)
    list(GET target 1 target_architecture)
    set(index 0)
    foreach(known IN LISTS known_levels)
      string(REPLACE "|" ";" fields "${known}")
      list(POP_FRONT fields name architecture primitives)
      if(architecture STREQUAL target_architecture AND (VELQUIN_SIMD STREQUAL "all" OR
         (architecture STREQUAL cap_architecture AND index LESS_EQUAL cap_index)))
        set(entry "${name}|${architecture}|${primitives}")
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

# Writes `file`, which defines VELQUIN_IF_BUILT(name, ...) for the module (levels.hpp): its
# other arguments for each level in `levels` (as velquin_levels gives them) where the
# architecture being compiled is the level's, nothing for every other level of the list.
function(velquin_write_built_levels file levels)
  velquin_known_levels(known_levels)
  string(CONCAT text
    "// Generated by cmake/levels.cmake from src/level_list.hpp: the levels this build\n"
    "// compiled, each for its architecture.\n#pragma once\n\n"
    "#define VELQUIN_IF_BUILT(name, ...) VELQUIN_IF_BUILT_##name(__VA_ARGS__)\n")
  foreach(known IN LISTS known_levels)
    string(REPLACE "|" ";" fields "${known}")
    list(GET fields 0 name)
    list(GET fields 1 architecture)
    set(built FALSE)
    foreach(level IN LISTS levels)
      if(level MATCHES "^${name}\\|")
        set(built TRUE)
      endif()
    endforeach()
    if(built)
      string(APPEND text "#if VELQUIN_ARCH == VELQUIN_ARCH_${architecture}\n"
                         "#define VELQUIN_IF_BUILT_${name}(...) __VA_ARGS__\n#else\n"
                         "#define VELQUIN_IF_BUILT_${name}(...)\n#endif\n")
    else()
      string(APPEND text "#define VELQUIN_IF_BUILT_${name}(...)\n")
    endif()
  endforeach()
  file(CONFIGURE OUTPUT "${file}" CONTENT "${text}" @ONLY)
endfunction()
