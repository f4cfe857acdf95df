# zlib behind cap/inflate.h, the one file that includes its header.
# Natively the shared library (pkg-config, zlib1g-dev); for Windows the
# static libz.a and zlib.h of Debian's libz-mingw-w64-dev, so that the
# programs still need no DLL beyond the system's (the package's import
# library for zlib1.dll is never taken).
if(WIN32)
  find_path(VORLANE_ZLIB_INCLUDE_DIR zlib.h REQUIRED)
  find_library(VORLANE_ZLIB_LIBRARY NAMES libz.a REQUIRED)
  target_include_directories(vorlane_pure PRIVATE ${VORLANE_ZLIB_INCLUDE_DIR})
  target_link_libraries(vorlane_pure PUBLIC ${VORLANE_ZLIB_LIBRARY})
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(ZLIB REQUIRED IMPORTED_TARGET zlib)
  target_link_libraries(vorlane_pure PUBLIC PkgConfig::ZLIB)
endif()
