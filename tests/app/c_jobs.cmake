# The window's jobs, the starts of full tests and target runs, and the page switcher. The jobs'
# test registers a client at the simulator's portal and uploads one real target run.
tarvisko_simulator_test(app_jobs_test jobs_test.cpp LIBS tarvisko_window LABELS window
  MODULES portal upload)
