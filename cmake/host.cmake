# The host configuration: code without Win32 under AddressSanitizer and
# UndefinedBehaviorSanitizer, its tests and fuzzers, and the rig's Linux tools.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCSCLITE REQUIRED IMPORTED_TARGET libpcsclite)

# VORLANE_TSAN (the tsan preset): the same core under ThreadSanitizer, for
# its fake-PC/SC tests only, without the fuzzers' coverage counters (their
# racy increments would drown every real report).
option(VORLANE_TSAN "The portable core's tests under ThreadSanitizer" OFF)
if(VORLANE_TSAN)
  set(VORLANE_SANITIZE -fsanitize=thread -fno-omit-frame-pointer)
else()
  set(VORLANE_SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer
                       -fno-sanitize-recover=all)
endif()
target_compile_options(vorlane_pure PRIVATE ${VORLANE_SANITIZE})
target_link_options(vorlane_pure INTERFACE ${VORLANE_SANITIZE})

# With clang the one build of vorlane_pure also carries the fuzzers' coverage
# instrumentation: the sanitizer runtime answers its hooks in the host tests,
# libFuzzer in the fuzzers.
set(VORLANE_FUZZ OFF)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND NOT VORLANE_TSAN)
  set(VORLANE_FUZZ ON)
  target_compile_options(vorlane_pure PRIVATE -fsanitize=fuzzer-no-link)
endif()

# The portable core without a PC/SC service: the card exchange, the
# interpreter, the pane streams, the runner and the POSIX platform's locks
# and threads, built as in the linux configuration but with pcsc-lite's
# headers only. Its tests link app/posix/platform_world.cpp (the clocks and
# files, vorlane_platform_posix) and the fake PC/SC of tests/fake; the
# fuzzer links the fake clocks and files instead. libpcsclite is never
# linked here, so a PC/SC call that bypasses card/pcsc.h fails to link.
set(VORLANE_HOST_CORE_SOURCES ${VORLANE_PORTABLE_SOURCES} ${VORLANE_RUNNER_SOURCES}
    ${VORLANE_POSIX_SOURCES})
list(REMOVE_ITEM VORLANE_HOST_CORE_SOURCES card/pcsc.cpp app/posix/platform_world.cpp)
add_library(vorlane_posix_headers INTERFACE)
target_include_directories(vorlane_posix_headers INTERFACE ${CMAKE_SOURCE_DIR}/app/posix
                                                           ${PCSCLITE_INCLUDE_DIRS})
add_library(vorlane_portable STATIC ${VORLANE_HOST_CORE_SOURCES})
target_compile_options(vorlane_portable PRIVATE ${VORLANE_SANITIZE})
target_link_libraries(vorlane_portable PUBLIC vorlane_posix_headers vorlane_pure Threads::Threads)
add_library(vorlane_platform_posix OBJECT app/posix/platform_world.cpp)
target_compile_options(vorlane_platform_posix PRIVATE ${VORLANE_SANITIZE})
target_link_libraries(vorlane_platform_posix PRIVATE vorlane_posix_headers)
if(VORLANE_FUZZ)
  target_compile_options(vorlane_portable PRIVATE -fsanitize=fuzzer-no-link)
endif()
add_subdirectory(tests/fake)

if(VORLANE_TSAN)
  add_subdirectory(tests/tsan)
  return()
endif()
add_subdirectory(tests/host)
if(VORLANE_FUZZ)
  add_subdirectory(tests/fuzz)
endif()
add_subdirectory(tools)
add_subdirectory(bench/host)
