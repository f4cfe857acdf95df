# The linux configuration: the native vorlane-run from the same sources as
# vorlane-run.exe, over the POSIX side of the platform layer and pcsc-lite
# (found with pkg-config), its tests against the rig's test cards, its
# benchmark and its Debian package (cpack, or scripts/package).
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCSCLITE REQUIRED IMPORTED_TARGET libpcsclite)
find_package(Threads REQUIRED)
include(GNUInstallDirs)

# The platform layer's POSIX side (platform_types.h, app_window_state.h).
include_directories(${CMAKE_SOURCE_DIR}/app/posix)
add_library(vorlane_portable STATIC ${VORLANE_PORTABLE_SOURCES} ${VORLANE_POSIX_SOURCES})
target_link_libraries(vorlane_portable PUBLIC vorlane_pure PkgConfig::PCSCLITE Threads::Threads)

add_executable(vorlane-run ${VORLANE_RUNNER_SOURCES} ${VORLANE_RUNNER_ENTRY})
target_link_libraries(vorlane-run PRIVATE vorlane_portable)

# The manual page, compressed as Debian policy wants it.
set(VORLANE_MAN_PAGE ${CMAKE_BINARY_DIR}/vorlane-run.1.gz)
add_custom_command(OUTPUT ${VORLANE_MAN_PAGE}
                   COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/run/vorlane-run.1 > ${VORLANE_MAN_PAGE}
                   DEPENDS ${CMAKE_SOURCE_DIR}/run/vorlane-run.1
                   COMMENT "Compressing the manual page")
add_custom_target(man_page ALL DEPENDS ${VORLANE_MAN_PAGE})

install(TARGETS vorlane-run RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VORLANE_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package: /usr/bin/vorlane-run and its manual page. The shared
# libraries' packages (libpcsclite1, libc6, ...) are found by dpkg-shlibdeps;
# the PC/SC service is only recommended, since it may run on another host.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlane-run)
set(CPACK_PACKAGE_CONTACT "Vorlane developers <dev@vorlane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "runs smart-card APDU scripts against PC/SC readers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
find_program(VORLANE_SHLIBDEPS dpkg-shlibdeps)
if(VORLANE_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libpcsclite1")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS pcscd)
include(CPack)

add_subdirectory(tests/linux)
add_subdirectory(bench/native)
