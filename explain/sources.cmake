# The explanations of status words, ATRs and BER-TLV data: pure code, no
# PC/SC and no windows.
list(APPEND VORLANE_PURE_SOURCES explain/explain_sw.cpp explain/explain_atr.cpp
     explain/explain_tlv.cpp)
