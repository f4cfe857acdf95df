# vorlane-run.exe, the VERSIONINFO of both programs, the release archive
# vorlane-<version>-win64.zip (target "package_zip", built with everything)
# and the installer beside it (msi.cmake).
set(VORLANE_VERSION_RC ${CMAKE_SOURCE_DIR}/resources/version.rc)
set_property(SOURCE ${VORLANE_VERSION_RC} APPEND PROPERTY OBJECT_DEPENDS
             ${CMAKE_BINARY_DIR}/generated/vorlane_version.h)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_BINARY_DIR}/generated")
target_sources(vorlane PRIVATE ${VORLANE_VERSION_RC})

# A console program: same interpreter, no window.
add_executable(vorlane-run ${VORLANE_RUNNER_SOURCES} ${VORLANE_RUNNER_ENTRY} ${VORLANE_VERSION_RC})
target_compile_definitions(vorlane-run PRIVATE VORLANE_RUNNER)
target_link_libraries(vorlane-run PRIVATE vorlane_core)

# The archive: the two programs, the demo card's table and script, a
# plain-text guide with CR LF line ends for Windows users, and the licences,
# notices and offer of sources of what the programs contain (notices.cmake).
include(cmake/notices.cmake)
set(VORLANE_PACKAGE_NAME vorlane-${PROJECT_VERSION}-win64)
set(VORLANE_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package/${VORLANE_PACKAGE_NAME})
set(VORLANE_PACKAGE_ZIP ${CMAKE_BINARY_DIR}/${VORLANE_PACKAGE_NAME}.zip)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
configure_file(${CMAKE_SOURCE_DIR}/resources/README.txt.in ${CMAKE_BINARY_DIR}/generated/README.txt
               @ONLY NEWLINE_STYLE CRLF)
# One list for the archive and the installer (msi.cmake), so that a file
# added here, or a notice added to notices.cmake, lands in both.
set(VORLANE_PACKAGE_FILES
    $<TARGET_FILE:vorlane> $<TARGET_FILE:vorlane-run> ${CMAKE_SOURCE_DIR}/atr.txt
    ${CMAKE_SOURCE_DIR}/demo.txt ${CMAKE_BINARY_DIR}/generated/README.txt ${VORLANE_NOTICE_FILES})
add_custom_command(
  OUTPUT ${VORLANE_PACKAGE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${VORLANE_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VORLANE_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${VORLANE_PACKAGE_FILES} ${VORLANE_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${VORLANE_PACKAGE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${VORLANE_PACKAGE_ZIP} --format=zip ${VORLANE_PACKAGE_NAME}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/package
  DEPENDS vorlane vorlane-run ${VORLANE_PACKAGE_FILES}
  COMMENT "Packing ${VORLANE_PACKAGE_NAME}.zip")
add_custom_target(package_zip ALL DEPENDS ${VORLANE_PACKAGE_ZIP})
add_dependencies(package_zip sources_offer)

# Card tests that start the programs need them built.
foreach(target runner_card_test archive_card_test)
  if(TARGET ${target})
    add_dependencies(${target} vorlane vorlane-run)
  endif()
endforeach()
if(TARGET runner_card_test)
  target_compile_definitions(runner_card_test PRIVATE VORLANE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()

# The archive unpacked into an empty folder and used there, with the rig:
# archive_test.sh unpacks it and runs the test program inside.
vorlane_win_test(archive_card_test tests/win/archive/archive_card_test.cpp
                 ${CMAKE_SOURCE_DIR}/tests/win/archive/archive_test.sh ${VORLANE_PACKAGE_ZIP}
                 $<TARGET_FILE:rig_winscard>)
target_compile_definitions(archive_card_test PRIVATE VORLANE_VERSION_TEXT="${PROJECT_VERSION}")
target_link_libraries(archive_card_test PRIVATE version)
add_dependencies(archive_card_test package_zip)

# The installer, from the same files.
include(cmake/msi.cmake)
