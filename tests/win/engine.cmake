# The extraction engine's Windows-only group: a full disk, simulated by a file-size limit of
# 64 KiB. Its cases (engine_disk_full_test.cpp) are built into the engine's own suite program
# (tests/engine, run natively and under Wine as engine_tests), and run only here.
add_test(NAME win.engine_disk_full_test
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/file-size-limit.sh 64 ${PROJECT_SOURCE_DIR}/tests/wine-run.sh
          ${CMAKE_BINARY_DIR}/wineprefix $<TARGET_FILE:engine_tests> --gtest_filter=DiskFullTest.*)

# The engine's name scans under the double-byte code page 932, which Wine takes from the locale.
add_test(NAME win.engine_tests_dbcs COMMAND engine_tests --gtest_filter=*DoubleByte*)
set_tests_properties(win.engine_tests_dbcs PROPERTIES ENVIRONMENT "LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8")
