# Meter, progress dialog and install-folder dialog, on the virtual display.
tq_add_test_objects(tqunmanagedwindows unmanaged_windows.cpp)
tq_add_wine_test(meter_test meter_test.cpp)
tq_add_wine_test(progress_dialog_test progress_dialog_test.cpp $<TARGET_OBJECTS:tqunmanagedwindows>)
tq_add_wine_test(install_dialog_test install_dialog_test.cpp $<TARGET_OBJECTS:tqunmanagedwindows> FRESH_PREFIX)
# The double-byte case runs in its own group under code page 932 (a command-line filter
# overrides the environment's).
set_property(TEST win.install_dialog_test APPEND PROPERTY ENVIRONMENT GTEST_FILTER=-*DoubleByte*)
add_test(NAME win.install_dialog_dbcs COMMAND install_dialog_test --gtest_filter=*DoubleByte*)
set_tests_properties(win.install_dialog_dbcs PROPERTIES ENVIRONMENT "TQ_FRESH_PREFIX=1;LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8")
