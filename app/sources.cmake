list(APPEND VORLANE_PURE_SOURCES app/command_line.cpp)
list(APPEND VORLANE_WIN_SOURCES app/app_state.cpp app/startup.cpp app/frame.cpp)
