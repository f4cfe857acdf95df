# Java Card CAP files: the ZIP archive, its components, the load file and
# what --cap-info prints, the card content commands that load and install
# it. No Win32, no card; zlib behind cap/inflate.h.
list(APPEND VORLANE_PURE_SOURCES cap/inflate.cpp cap/cap_archive.cpp cap/cap_read.cpp
     cap/cap_load.cpp cap/cap_info.cpp cap/cap_commands.cpp)
