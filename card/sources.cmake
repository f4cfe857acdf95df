list(APPEND VORLANE_WIN_SOURCES card/reader_window.cpp)
