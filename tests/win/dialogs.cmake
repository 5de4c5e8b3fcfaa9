# Meter, progress dialog and install-folder dialog, on the virtual display. Screenshots of the
# dialogs go to the build tree's screenshots folder.
set(TQ_SCREENSHOT_DIR ${CMAKE_BINARY_DIR}/screenshots)
tq_add_wine_test(meter_test meter_test.cpp)
tq_add_wine_test(progress_dialog_test progress_dialog_test.cpp screenshot.cpp)
set_property(TEST win.progress_dialog_test APPEND PROPERTY ENVIRONMENT TQ_SCREENSHOT_DIR=${TQ_SCREENSHOT_DIR})
