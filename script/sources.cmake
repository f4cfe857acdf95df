list(APPEND VORLANE_PURE_SOURCES script/script_line.cpp script/script_check.cpp)
list(APPEND VORLANE_PORTABLE_SOURCES script/script_thread.cpp)
list(APPEND VORLANE_WIN_SOURCES script/script_start.cpp script/script_dialog.cpp)
