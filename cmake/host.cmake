# The host configuration: code without Win32 under AddressSanitizer and
# UndefinedBehaviorSanitizer, its tests and fuzzers, and the rig's Linux tools.
set(VORLANE_SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
target_compile_options(vorlane_pure PRIVATE ${VORLANE_SANITIZE})

add_subdirectory(tests/host)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_subdirectory(tests/fuzz)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()
