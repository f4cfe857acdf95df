list(APPEND VORLANE_PURE_SOURCES net/net_frame.cpp)
list(APPEND VORLANE_WIN_SOURCES net/net_server.cpp net/net_connection.cpp)
