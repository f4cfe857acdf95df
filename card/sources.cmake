list(APPEND VORLANE_PURE_SOURCES
     card/atr_parse.cpp
     card/xfer_line.cpp
     card/scard_name.cpp
     card/replay_read.cpp)
list(APPEND VORLANE_PORTABLE_SOURCES card/pcsc.cpp card/card_transmit.cpp card/card_session.cpp card/card_connect.cpp card/card_record.cpp
     card/replay_provider.cpp
     card/explain_print.cpp)
list(APPEND VORLANE_WIN_SOURCES
     card/reader_window.cpp
     card/reader_choice.cpp
     card/card_state.cpp
     card/atr_table.cpp)
