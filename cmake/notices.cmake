# The licences and notices that go into the release archive beside the
# programs: Vorlane's own LICENSE, and for the libraries linked statically
# into both programs (libgcrypt, libgpg-error, LGPL 2.1 or later; zlib,
# under its own licence, which asks for its notice only) their Debian
# copyright files, libgcrypt's LICENSES notices, the LGPL's text and a
# written offer of their exact sources with where Vorlane's own source is
# (resources/SOURCES.txt.in, written at every build by
# cmake/sources_offer.cmake, which records the commit built). Every text
# gets CR LF line ends for Windows. Sets VORLANE_NOTICE_FILES. Without the
# libraries' documents the programs may not be handed on, so a build that
# lacks them (outside Debian) stops here until the three paths are set.
set(VORLANE_GCRYPT_DOC_DIR /usr/share/doc/libgcrypt-mingw-w64-dev
    CACHE PATH "libgcrypt's Debian documents (copyright) for the release archive")
set(VORLANE_GPG_ERROR_DOC_DIR /usr/share/doc/libgpg-error-mingw-w64-dev
    CACHE PATH "libgpg-error's Debian documents (copyright) for the release archive")
set(VORLANE_LGPL_FILE /usr/share/common-licenses/LGPL-2.1
    CACHE FILEPATH "The text of the GNU Lesser General Public License 2.1")
set(VORLANE_ZLIB_DOC_DIR /usr/share/doc/libz-mingw-w64-dev
    CACHE PATH "zlib's Debian documents (copyright) for the release archive")
set(VORLANE_NOTICE_FILES)
set(VORLANE_NOTICE_DIR ${CMAKE_BINARY_DIR}/generated/notices)

# Writes text into the notice folder as name, lines ending in CR LF.
function(vorlane_notice_write name text)
  string(REPLACE "\r\n" "\n" text "${text}")
  file(CONFIGURE OUTPUT ${VORLANE_NOTICE_DIR}/${name} CONTENT "${text}" @ONLY NEWLINE_STYLE CRLF)
endfunction()

function(vorlane_notice_copy name source)
  file(READ ${source} text)
  string(REPLACE "@" "@AT@" text "${text}") # no substitution in a copy
  set(AT "@")
  vorlane_notice_write(${name} "${text}")
endfunction()

# The Debian source package and version of an installed package, for the
# offer: "libgcrypt20 1.10.1-3+deb12u1".
function(vorlane_source_package out package)
  execute_process(COMMAND dpkg-query -W -f=\${source:Package}\ \${source:Version} ${package}
                  OUTPUT_VARIABLE found RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0 OR found STREQUAL "")
    set(found "${package} (version not recorded: not installed from Debian)")
  endif()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(VORLANE_GCRYPT_COPYRIGHT ${VORLANE_GCRYPT_DOC_DIR}/copyright)
set(VORLANE_GPG_ERROR_COPYRIGHT ${VORLANE_GPG_ERROR_DOC_DIR}/copyright)
set(VORLANE_ZLIB_COPYRIGHT ${VORLANE_ZLIB_DOC_DIR}/copyright)
if(NOT EXISTS ${VORLANE_GCRYPT_COPYRIGHT} OR NOT EXISTS ${VORLANE_GPG_ERROR_COPYRIGHT}
   OR NOT EXISTS ${VORLANE_ZLIB_COPYRIGHT} OR NOT EXISTS ${VORLANE_LGPL_FILE})
  message(FATAL_ERROR "The libraries' copyright files or the LGPL text are missing, and the "
                      "release archive needs them: install libgcrypt-mingw-w64-dev, "
                      "libgpg-error-mingw-w64-dev and libz-mingw-w64-dev, or set "
                      "VORLANE_GCRYPT_DOC_DIR, VORLANE_GPG_ERROR_DOC_DIR, VORLANE_ZLIB_DOC_DIR "
                      "and VORLANE_LGPL_FILE")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE
             ${VORLANE_GCRYPT_COPYRIGHT} ${VORLANE_GPG_ERROR_COPYRIGHT} ${VORLANE_ZLIB_COPYRIGHT}
             ${VORLANE_LGPL_FILE})

# libgcrypt does not ship its LICENSES file in the package; Debian's
# copyright file quotes it whole between two "8X---" lines after "From
# upstream's LICENSES file".
file(READ ${VORLANE_GCRYPT_COPYRIGHT} copyright)
string(FIND "${copyright}" "From upstream's LICENSES file" at)
if(at LESS 0)
  message(FATAL_ERROR "${VORLANE_GCRYPT_COPYRIGHT} quotes no LICENSES file")
endif()
string(SUBSTRING "${copyright}" ${at} -1 copyright)
string(REGEX MATCH "\n8X-+\n(.*)\n8X-+\n" quoted "${copyright}")
if(NOT CMAKE_MATCH_1)
  message(FATAL_ERROR "${VORLANE_GCRYPT_COPYRIGHT}: the LICENSES quote has no end")
endif()
string(REPLACE "@" "@AT@" licenses "${CMAKE_MATCH_1}\n")
set(AT "@")
vorlane_notice_write(libgcrypt-LICENSES.txt "${licenses}")

vorlane_notice_copy(LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
vorlane_notice_copy(libgcrypt-copyright.txt ${VORLANE_GCRYPT_COPYRIGHT})
vorlane_notice_copy(libgpg-error-copyright.txt ${VORLANE_GPG_ERROR_COPYRIGHT})
vorlane_notice_copy(zlib-copyright.txt ${VORLANE_ZLIB_COPYRIGHT})
vorlane_notice_copy(COPYING.LIB.txt ${VORLANE_LGPL_FILE})

vorlane_source_package(VORLANE_GCRYPT_SOURCE libgcrypt-mingw-w64-dev)
vorlane_source_package(VORLANE_GPG_ERROR_SOURCE libgpg-error-mingw-w64-dev)
vorlane_source_package(VORLANE_ZLIB_SOURCE libz-mingw-w64-dev)
set(VORLANE_OFFER ${VORLANE_NOTICE_DIR}/SOURCES.txt)
add_custom_target(
  sources_offer ALL
  COMMAND ${CMAKE_COMMAND} -DTEMPLATE=${CMAKE_SOURCE_DIR}/resources/SOURCES.txt.in
          -DOUTPUT=${VORLANE_OFFER} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
          -DVERSION=${PROJECT_VERSION} "-DGCRYPT_SOURCE=${VORLANE_GCRYPT_SOURCE}"
          "-DGPG_ERROR_SOURCE=${VORLANE_GPG_ERROR_SOURCE}" "-DZLIB_SOURCE=${VORLANE_ZLIB_SOURCE}"
          -P ${CMAKE_SOURCE_DIR}/cmake/sources_offer.cmake
  BYPRODUCTS ${VORLANE_OFFER}
  COMMENT "Writing the offer of the sources")

foreach(name LICENSE COPYING.LIB.txt libgcrypt-LICENSES.txt libgcrypt-copyright.txt
             libgpg-error-copyright.txt zlib-copyright.txt SOURCES.txt)
  list(APPEND VORLANE_NOTICE_FILES ${VORLANE_NOTICE_DIR}/${name})
endforeach()
