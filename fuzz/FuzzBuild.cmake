# SPDX-License-Identifier: GPL-3.0-or-later
# The sanitizer build (the "asan" preset, build-asan/): the whole project and its tests compiled by clang with the
# address and undefined-behaviour sanitizers and libFuzzer's coverage hooks, plus the fuzz targets in this folder. One
# tree serves the sanitizer suite, the corpus replay and the fuzzing, so `make test` builds the instrumented code once.
# The preset names this file as CMAKE_PROJECT_Pellisor_INCLUDE, so it runs inside the top-level project() call, before
# any library is defined: every library is instrumented, and the ordinary build never sees any of it.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "The sanitizer build needs clang++ for libFuzzer: configure it with `cmake --preset asan`.")
endif()

# The coverage hooks cost the tests little; without libFuzzer linked, the sanitizer runtime answers them.
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)

# The fuzz targets use what the rest of the top-level list sets up (Qt, the libraries, the language level), so
# their list is read once that is done. A deferred call may not add a subdirectory; it may include a list.
# The call's arguments are expanded when it runs, in the top-level scope, where this variable still holds.
set(PELLISOR_FUZZ_TARGETS_LIST "${CMAKE_CURRENT_LIST_DIR}/CMakeLists.txt")
cmake_language(DEFER CALL include "${PELLISOR_FUZZ_TARGETS_LIST}")
