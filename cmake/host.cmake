# The host configuration: code without Win32 under AddressSanitizer and
# UndefinedBehaviorSanitizer, its tests and fuzzers, and the rig's Linux tools.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

set(VORLANE_SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
target_compile_options(vorlane_pure PRIVATE ${VORLANE_SANITIZE})
target_link_options(vorlane_pure INTERFACE ${VORLANE_SANITIZE})

# With clang the one build of vorlane_pure also carries the fuzzers' coverage
# instrumentation: the sanitizer runtime answers its hooks in the host tests,
# libFuzzer in the fuzzers.
set(VORLANE_FUZZ OFF)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(VORLANE_FUZZ ON)
  target_compile_options(vorlane_pure PRIVATE -fsanitize=fuzzer-no-link)
endif()

add_subdirectory(tests/host)
if(VORLANE_FUZZ)
  add_subdirectory(tests/fuzz)
endif()
add_subdirectory(tools)
add_subdirectory(bench/host)
