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

# The manual page and the package's changelog (run/changelog, a native
# package's Debian changelog), compressed as Debian policy wants them. One
# target makes both: scripts/package builds it before cpack.
set(VORLANE_MAN_PAGE ${CMAKE_BINARY_DIR}/vorlane-run.1.gz)
add_custom_command(OUTPUT ${VORLANE_MAN_PAGE}
                   COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/run/vorlane-run.1 > ${VORLANE_MAN_PAGE}
                   DEPENDS ${CMAKE_SOURCE_DIR}/run/vorlane-run.1
                   COMMENT "Compressing the manual page")
set(VORLANE_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${VORLANE_CHANGELOG}
                   COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/run/changelog > ${VORLANE_CHANGELOG}
                   DEPENDS ${CMAKE_SOURCE_DIR}/run/changelog
                   COMMENT "Compressing the changelog")
add_custom_target(man_page ALL DEPENDS ${VORLANE_MAN_PAGE} ${VORLANE_CHANGELOG})

# The copyright file in Debian's machine-readable format: the licence text is
# LICENSE's from its permission notice on, each line indented by one space and
# empty lines written as " .".
file(READ ${CMAKE_SOURCE_DIR}/LICENSE VORLANE_LICENSE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
string(FIND "${VORLANE_LICENSE}" "Permission is hereby granted" VORLANE_NOTICE_AT)
if(VORLANE_NOTICE_AT LESS 0)
  message(FATAL_ERROR "LICENSE holds no permission notice for the package's copyright file")
endif()
string(SUBSTRING "${VORLANE_LICENSE}" ${VORLANE_NOTICE_AT} -1 VORLANE_LICENSE)
string(STRIP "${VORLANE_LICENSE}" VORLANE_LICENSE)
string(REPLACE "\n" "\n " VORLANE_LICENSE " ${VORLANE_LICENSE}")
string(REPLACE "\n \n" "\n .\n" VORLANE_LICENSE "${VORLANE_LICENSE}")
set(VORLANE_COPYRIGHT ${CMAKE_BINARY_DIR}/copyright)
file(WRITE ${VORLANE_COPYRIGHT}
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: vorlane-run\n"
     "Upstream-Contact: Vorlane developers <dev@vorlane.invalid>\n\n"
     "Files: *\nCopyright: 2026 Vorlane developers\nLicense: Expat\n${VORLANE_LICENSE}\n")

install(TARGETS vorlane-run RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VORLANE_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VORLANE_COPYRIGHT} ${VORLANE_CHANGELOG}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vorlane-run)

# The Debian package: /usr/bin/vorlane-run (stripped), its manual page, its
# copyright file and changelog. The shared libraries' packages (libpcsclite1,
# libgcrypt20, zlib1g, libc6, ...) are found by dpkg-shlibdeps; the PC/SC service is
# only recommended, since it may run on another host.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlane-run)
set(CPACK_PACKAGE_CONTACT "Vorlane developers <dev@vorlane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "runs smart-card APDU scripts against PC/SC readers")
set(CPACK_PACKAGE_DESCRIPTION
    "vorlane-run sends the APDUs of script files to a smart card in any reader
that pcscd sees, unattended, and prints what the reader pane of Vorlane's
Script dialog would show. Scripts check responses and their timing with
/EXPECT lines; the exit status and an optional JUnit XML report tell a build
pipeline or a nightly test of a card batch whether every check held.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
find_program(VORLANE_SHLIBDEPS dpkg-shlibdeps)
if(VORLANE_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libpcsclite1, libgcrypt20 (>= 1.8.0), zlib1g")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS pcscd)
include(CPack)

add_subdirectory(tests/linux)
add_subdirectory(bench/native)
