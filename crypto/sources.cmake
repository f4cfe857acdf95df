list(APPEND VORLANE_PURE_SOURCES crypto/crypto.cpp)
