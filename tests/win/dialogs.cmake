# Meter, progress dialog and install-folder dialog, on the virtual display. Screenshots of the
# dialogs go to the build tree's screenshots folder.
set(TQ_SCREENSHOT_DIR ${CMAKE_BINARY_DIR}/screenshots)
tq_add_test_objects(tqdialogsupport screenshot.cpp unmanaged_windows.cpp)
set(dialog_support $<TARGET_OBJECTS:tqdialogsupport>)
tq_add_wine_test(meter_test meter_test.cpp)
tq_add_wine_test(progress_dialog_test progress_dialog_test.cpp ${dialog_support})
set_property(TEST win.progress_dialog_test APPEND PROPERTY ENVIRONMENT TQ_SCREENSHOT_DIR=${TQ_SCREENSHOT_DIR})
tq_add_wine_test(install_dialog_test install_dialog_test.cpp ${dialog_support} FRESH_PREFIX)
set_property(TEST win.install_dialog_test APPEND PROPERTY ENVIRONMENT TQ_SCREENSHOT_DIR=${TQ_SCREENSHOT_DIR})
# The same program under code page 932, for the double-byte folder names.
add_test(NAME win.install_dialog_dbcs COMMAND install_dialog_test --gtest_filter=*DoubleByte*)
set_tests_properties(win.install_dialog_dbcs PROPERTIES ENVIRONMENT "TQ_FRESH_PREFIX=1;LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8")
