list(APPEND VORLANE_PURE_SOURCES run/run_args.cpp run/run_report.cpp)
