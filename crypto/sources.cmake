# crypto.cpp alone includes the library's header; the MACs composed over
# its ciphers, the padding and the checks are plain code.
list(APPEND VORLANE_PURE_SOURCES crypto/crypto.cpp crypto/crypto_mac.cpp crypto/crypto_pad.cpp
     crypto/crypto_check.cpp crypto/crypto_equal.cpp)
# Clearing secrets is the platform's: SecureZeroMemory on Windows,
# explicit_bzero where the C library has it, else volatile stores.
if(WIN32)
  list(APPEND VORLANE_PURE_SOURCES crypto/win32/crypto_wipe.cpp)
else()
  list(APPEND VORLANE_PURE_SOURCES crypto/posix/crypto_wipe.cpp)
endif()
