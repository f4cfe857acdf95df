list(APPEND VORLANE_PURE_SOURCES crypto/crypto.cpp crypto/crypto_equal.cpp)
# Clearing secrets is the platform's: SecureZeroMemory on Windows,
# explicit_bzero where the C library has it, else volatile stores.
if(WIN32)
  list(APPEND VORLANE_PURE_SOURCES crypto/win32/crypto_wipe.cpp)
else()
  list(APPEND VORLANE_PURE_SOURCES crypto/posix/crypto_wipe.cpp)
endif()
