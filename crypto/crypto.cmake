# libgcrypt behind crypto/crypto.h, the one file that includes its header.
# Natively the shared library (pkg-config); for Windows the static
# libgcrypt.a and libgpg-error.a of Debian's mingw-w64 packages, so that the
# programs still need no DLL beyond the system's: the libraries call the
# registry (advapi32) and a few socket routines, taken from wsock32 as the
# network reader's are, so the programs import the system DLLs they did
# plus advapi32.
if(WIN32)
  find_path(VORLANE_GCRYPT_INCLUDE_DIR gcrypt.h REQUIRED)
  find_library(VORLANE_GCRYPT_LIBRARY NAMES libgcrypt.a REQUIRED)
  find_library(VORLANE_GPG_ERROR_LIBRARY NAMES libgpg-error.a REQUIRED)
  target_include_directories(vorlane_pure PRIVATE ${VORLANE_GCRYPT_INCLUDE_DIR})
  target_link_libraries(vorlane_pure PUBLIC ${VORLANE_GCRYPT_LIBRARY} ${VORLANE_GPG_ERROR_LIBRARY}
                                            wsock32 advapi32)
else()
  include(CheckSymbolExists)
  check_symbol_exists(explicit_bzero "string.h" VORLANE_HAVE_EXPLICIT_BZERO)
  if(VORLANE_HAVE_EXPLICIT_BZERO)
    add_compile_definitions(VORLANE_HAVE_EXPLICIT_BZERO)
  endif()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(GCRYPT REQUIRED IMPORTED_TARGET libgcrypt)
  target_link_libraries(vorlane_pure PUBLIC PkgConfig::GCRYPT)
endif()
