# The secure channel protocols: no Win32, no card; the interpreter drives them.
list(APPEND VORLANE_PURE_SOURCES scp/scp_keys.cpp scp/scp_wrap.cpp scp/scp_open.cpp
     scp/scp_transport.cpp)
