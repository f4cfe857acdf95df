# The Windows installer vorlane-<version>-x64.msi (target "package_msi",
# built with everything beside the archive): resources/vorlane.wxs with the
# archive's files (VORLANE_PACKAGE_FILES, release.cmake), built by Debian's
# wixl and finished with msibuild (msitools) in msi_build.cmake. Without
# those tools, say so and stop: configure with -DVORLANE_MSI=OFF to build
# without the installer (on Windows itself, say).
option(VORLANE_MSI "Build the Windows installer (needs wixl and msitools)" ON)
if(NOT VORLANE_MSI)
  return()
endif()
find_program(VORLANE_WIXL wixl NO_CMAKE_FIND_ROOT_PATH)
find_program(VORLANE_MSIBUILD msibuild NO_CMAKE_FIND_ROOT_PATH)
find_program(VORLANE_MSIINFO msiinfo NO_CMAKE_FIND_ROOT_PATH)
if(NOT VORLANE_WIXL OR NOT VORLANE_MSIBUILD OR NOT VORLANE_MSIINFO)
  message(FATAL_ERROR "The installer needs wixl, msibuild and msiinfo: install the Debian "
                      "packages wixl and msitools, or configure with -DVORLANE_MSI=OFF")
endif()

set(VORLANE_MSI_FILE ${CMAKE_BINARY_DIR}/vorlane-${PROJECT_VERSION}-x64.msi)
set(VORLANE_MSI_SOURCE ${CMAKE_SOURCE_DIR}/resources/vorlane.wxs)
# The files, one path a line (the programs' paths are known only once the
# build is generated).
set(VORLANE_MSI_FILE_LIST ${CMAKE_BINARY_DIR}/package/msi-files.txt)
set(lines "")
foreach(file ${VORLANE_PACKAGE_FILES})
  string(APPEND lines "${file}\n")
endforeach()
file(GENERATE OUTPUT ${VORLANE_MSI_FILE_LIST} CONTENT "${lines}")
# The build command without its version, work folder and output, which the
# installer test completes to build a newer package of the same files.
set(VORLANE_MSI_COMMAND
    ${CMAKE_COMMAND} -DSOURCE=${VORLANE_MSI_SOURCE} -DFILE_LIST=${VORLANE_MSI_FILE_LIST}
    -DWIXL=${VORLANE_WIXL} -DMSIBUILD=${VORLANE_MSIBUILD} -DMSIINFO=${VORLANE_MSIINFO})
set(VORLANE_MSI_SCRIPT ${CMAKE_SOURCE_DIR}/cmake/msi_build.cmake)
add_custom_command(
  OUTPUT ${VORLANE_MSI_FILE}
  COMMAND ${VORLANE_MSI_COMMAND} -DVERSION=${PROJECT_VERSION}
          -DWORK_DIR=${CMAKE_BINARY_DIR}/package/msi -DOUTPUT=${VORLANE_MSI_FILE}
          -P ${VORLANE_MSI_SCRIPT}
  DEPENDS vorlane vorlane-run ${VORLANE_PACKAGE_FILES} ${VORLANE_MSI_FILE_LIST}
          ${VORLANE_MSI_SOURCE} ${CMAKE_SOURCE_DIR}/resources/icone.ico ${VORLANE_MSI_SCRIPT}
  COMMENT "Building vorlane-${PROJECT_VERSION}-x64.msi"
  VERBATIM)
add_custom_target(package_msi ALL DEPENDS ${VORLANE_MSI_FILE})
add_dependencies(package_msi sources_offer)

# The package's tables read with msiinfo, and the package installed,
# upgraded and removed in a Wine prefix of its own (no card, no reader).
set(VORLANE_MSI_TESTS ${CMAKE_SOURCE_DIR}/tests/win/msi)
add_test(NAME win.msi_tables_test
         COMMAND ${VORLANE_MSI_TESTS}/msi_tables_test.sh ${CMAKE_COMMAND} ${VORLANE_MSIINFO}
                 ${VORLANE_MSI_FILE} ${PROJECT_VERSION} ${VORLANE_PACKAGE_ZIP})
math(EXPR newer_patch "${PROJECT_VERSION_PATCH} + 1")
add_test(NAME win.msi_install_test
         COMMAND ${VORLANE_MSI_TESTS}/msi_install_test.sh ${VORLANE_MSI_FILE} ${VORLANE_PACKAGE_ZIP}
                 ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${newer_patch}
                 ${VORLANE_MSI_SCRIPT} ${VORLANE_MSI_COMMAND})
set_tests_properties(win.msi_install_test PROPERTIES TIMEOUT 900)
