list(APPEND VORLANE_PURE_SOURCES script/script_line.cpp script/script_check.cpp
     script/script_words.cpp script/script_values.cpp script/script_call.cpp)
list(APPEND VORLANE_PORTABLE_SOURCES script/script_thread.cpp script/script_source.cpp
     script/script_set.cpp script/script_scp.cpp script/script_content.cpp)
list(APPEND VORLANE_WIN_SOURCES script/script_start.cpp script/script_dialog.cpp)
