list(APPEND VORLANE_PURE_SOURCES console/pane_lines.cpp)
list(APPEND VORLANE_PORTABLE_SOURCES console/pane_stream.cpp console/pane_print.cpp
     console/stream_writer.cpp)
list(APPEND VORLANE_WIN_SOURCES console/pane.cpp console/pane_window.cpp console/console_window.cpp)
list(APPEND VORLANE_POSIX_SOURCES console/stream_print.cpp)
