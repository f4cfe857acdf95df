list(APPEND VORLANE_PURE_SOURCES run/run_args.cpp run/run_report.cpp run/run_select.cpp
     run/run_data.cpp)
# The runner's own sources, for vorlane-run.exe and the native vorlane-run;
# run/run_entry.cpp holds only its entry point, so that tests can link the
# rest and call run_main.
list(APPEND VORLANE_RUNNER_SOURCES
     run/run_main.cpp
     run/run_state.cpp
     run/run_source.cpp
     run/run_reader.cpp
     run/run_card.cpp
     run/run_scripts.cpp
     run/run_record.cpp
     run/run_outcome.cpp
     run/run_report_file.cpp)
set(VORLANE_RUNNER_ENTRY run/run_entry.cpp)
