# The Windows configuration: vorlane.exe, its Win32 tests, the rig's winscard.dll.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)
# Static runtime: the .exe needs no DLL beyond the system's.
add_link_options(-static -static-libgcc -static-libstdc++)

add_library(vorlane_core STATIC ${VORLANE_WIN_SOURCES})
target_link_libraries(vorlane_core PUBLIC vorlane_pure winscard wsock32 comdlg32 gdi32 user32)

set(VORLANE_RC ${CMAKE_SOURCE_DIR}/resources/vorlane.rc)
set_property(SOURCE ${VORLANE_RC} APPEND PROPERTY OBJECT_DEPENDS
             ${CMAKE_SOURCE_DIR}/resources/resource.h ${CMAKE_SOURCE_DIR}/resources/icone.ico
             ${CMAKE_SOURCE_DIR}/resources/logo.bmp)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR} -I${CMAKE_SOURCE_DIR}/resources")
enable_language(RC)

add_executable(vorlane WIN32 app/main.cpp ${VORLANE_RC})
target_link_libraries(vorlane PRIVATE vorlane_core)

add_subdirectory(tests/win)
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/winscard/CMakeLists.txt)
  add_subdirectory(tools/winscard)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
