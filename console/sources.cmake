list(APPEND VORLANE_PURE_SOURCES console/pane_lines.cpp)
list(APPEND VORLANE_WIN_SOURCES console/pane.cpp console/pane_window.cpp console/console_window.cpp
     console/pane_stream.cpp)
