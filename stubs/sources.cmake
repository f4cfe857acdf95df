list(APPEND VORLANE_WIN_SOURCES stubs/pending.cpp)
