# The explanations of status words, ATRs, BER-TLV data and the answers of
# GlobalPlatform cards: pure code, no PC/SC and no windows.
list(APPEND VORLANE_PURE_SOURCES explain/explain_sw.cpp explain/explain_atr.cpp
     explain/explain_tlv.cpp explain/explain_gp.cpp explain/explain_status.cpp
     explain/explain_card_data.cpp explain/explain_recognition.cpp)
