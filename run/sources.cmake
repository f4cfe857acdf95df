list(APPEND VORLANE_PURE_SOURCES run/run_args.cpp)
