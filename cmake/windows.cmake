# The Windows configuration: vorlane.exe, its Win32 tests and benchmarks, the
# rig's winscard.dll. The product libraries are described in the top-level
# CMakeLists.txt.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)
# Static runtime: the .exe needs no DLL beyond the system's.
add_link_options(-static -static-libgcc -static-libstdc++)

# The platform layer's Windows side (platform_types.h, app_window_state.h).
include_directories(${CMAKE_SOURCE_DIR}/app/win32)
add_library(vorlane_core STATIC ${VORLANE_PORTABLE_SOURCES} ${VORLANE_WIN_SOURCES})
target_link_libraries(vorlane_core PUBLIC vorlane_pure winscard wsock32 comdlg32 gdi32 user32)

set(VORLANE_RC ${CMAKE_SOURCE_DIR}/resources/vorlane.rc)
set_property(SOURCE ${VORLANE_RC} APPEND PROPERTY OBJECT_DEPENDS
             ${CMAKE_SOURCE_DIR}/resources/resource.h ${CMAKE_SOURCE_DIR}/resources/icone.ico
             ${CMAKE_SOURCE_DIR}/resources/logo.bmp)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR} -I${CMAKE_SOURCE_DIR}/resources")
enable_language(RC)
# Resources are found by the linker only as objects of the executable itself
# (nothing refers to them by symbol), hence an object library.
add_library(vorlane_resources OBJECT ${VORLANE_RC})

add_executable(vorlane WIN32 app/main.cpp)
target_link_libraries(vorlane PRIVATE vorlane_core vorlane_resources)

# GoogleTest is built from its sources with the cross compiler.
find_path(VORLANE_GTEST_SOURCE_DIR googletest/include/gtest/gtest.h
          PATHS /usr/src/googletest NO_CMAKE_FIND_ROOT_PATH
          DOC "GoogleTest sources (the directory holding googletest/)")
if(NOT VORLANE_GTEST_SOURCE_DIR)
  message(FATAL_ERROR "GoogleTest sources not found: set VORLANE_GTEST_SOURCE_DIR")
endif()
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${VORLANE_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE -w)

# One Win32 test program from one source, linked with the test harness and
# registered as win.NAME. Programs named *_card_test use the virtual readers:
# they never run in parallel, need the card rig and the rig's winscard.dll.
# Further arguments are a command a card test runs inside (under the lock).
function(vorlane_win_test name source)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE win_harness_main win_harness vorlane_resources)
  if(name MATCHES "_card_test$")
    add_dependencies(${name} rig_winscard)
    # The virtual readers are one per machine: the lock file serialises card
    # tests across every build and session on it. -o: the lock stays with
    # flock, so a daemon the test starts (wineserver) does not inherit it.
    add_test(NAME win.${name} COMMAND flock -o /tmp/vorlane-readers.lock ${ARGN}
             ${CMAKE_SOURCE_DIR}/scripts/wine-run $<TARGET_FILE:${name}>)
    # The time includes the wait for the readers.
    set_tests_properties(win.${name} PROPERTIES RESOURCE_LOCK readers FIXTURES_REQUIRED card_rig
                                                TIMEOUT 900)
  else()
    add_test(NAME win.${name} COMMAND ${name})
    set_tests_properties(win.${name} PROPERTIES TIMEOUT 300)
  endif()
endfunction()

add_subdirectory(tools/winscard)
add_subdirectory(tests/win)
# The command-line runner, the version resources and the release archive
include(cmake/release.cmake)
add_subdirectory(bench)
