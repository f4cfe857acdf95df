list(APPEND VORLANE_PURE_SOURCES run/run_args.cpp run/run_report.cpp)
# The runner's own sources, for vorlane-run.exe and the native vorlane-run.
list(APPEND VORLANE_RUNNER_SOURCES run/run_main.cpp run/run_card.cpp)
