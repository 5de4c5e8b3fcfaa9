tq_add_wine_test(sequence_test sequence_test.cpp)
# WinExec is wrapped so that a test can have the platform refuse a start.
target_link_options(sequence_test PRIVATE -Wl,--wrap=__imp_WinExec)
tq_add_wine_test(run_setup_test run_setup_test.cpp FRESH_PREFIX)
# GetModuleFileNameA is wrapped so that a test can give setup a path too long for its buffer.
target_link_options(run_setup_test PRIVATE -Wl,--wrap=__imp_GetModuleFileNameA)
# RunSetup runs a modal dialog; should an answer ever go astray, fail instead of waiting.
set_tests_properties(win.run_setup_test PROPERTIES TIMEOUT 120)
