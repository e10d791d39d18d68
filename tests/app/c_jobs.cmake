# The window's jobs, the starts of full tests and target runs, and the page switcher. The jobs'
# test registers a client at the simulator's portal and uploads one real target run. They link
# the whole window library.
tarvisko_simulator_test(app_jobs_test jobs_test.cpp LIBS tarvisko_window_harness
  LABELS window MODULES portal upload)
tarvisko_test(app_start_runs_test start_runs_test.cpp LIBS tarvisko_window_harness
  LABELS window)
tarvisko_test(app_page_switcher_test page_switcher_test.cpp LIBS tarvisko_window_harness
  LABELS window)
# The start-up load of the last reports against a throw-away origin in the credential store and
# a temporary LOCALAPPDATA, with a message-only window.
tarvisko_test(app_last_reports_job_test last_reports_job_test.cpp LIBS tarvisko_window)
