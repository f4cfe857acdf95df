list(APPEND VORLANE_PURE_SOURCES run/run_args.cpp run/run_report.cpp)
# vorlane-run's own entry point and reader pick, built into that program only
# (cmake/release.cmake).
set(VORLANE_RUN_SOURCES run/run_main.cpp run/run_card.cpp)
