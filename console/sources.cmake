list(APPEND VORLANE_WIN_SOURCES console/pane.cpp console/pane_style.cpp console/console_window.cpp)
