# Run as a script (cmake -P) at every build of the windows configuration:
# writes the release archive's SOURCES.txt from TEMPLATE into OUTPUT, with
# VERSION, the Debian source packages GCRYPT_SOURCE, GPG_ERROR_SOURCE and
# ZLIB_SOURCE and the commit of SOURCE_DIR being built ("-dirty" with changes not yet
# committed). CR LF line ends; the file is only rewritten when it changes.
execute_process(COMMAND git -C ${SOURCE_DIR} describe --always --dirty --abbrev=40
                OUTPUT_VARIABLE COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status
                ERROR_QUIET)
if(NOT status EQUAL 0 OR COMMIT STREQUAL "")
  set(COMMIT "not recorded: built outside a git checkout")
endif()
file(READ ${TEMPLATE} text)
file(CONFIGURE OUTPUT ${OUTPUT} CONTENT "${text}" @ONLY NEWLINE_STYLE CRLF)
