# The extraction engine's Windows-only group: a full disk, simulated by a file-size limit of
# 64 KiB (the engine's own suite, tests/engine, runs natively and under Wine as engine_tests).
set(engine_test_support ${PROJECT_SOURCE_DIR}/tests/engine/harness.cpp
  ${PROJECT_SOURCE_DIR}/tests/engine/harness_windows.cpp)
add_executable(engine_disk_full_test engine_disk_full_test.cpp ${engine_test_support}
  $<TARGET_OBJECTS:tqresources>)
target_include_directories(engine_disk_full_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/engine)
target_link_libraries(engine_disk_full_test PRIVATE tqtestsupport GTest::gtest_main)
target_compile_options(engine_disk_full_test PRIVATE ${TQ_WARNINGS})
add_dependencies(engine_disk_full_test tqresources)
add_test(NAME win.engine_disk_full_test
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/file-size-limit.sh 64 ${PROJECT_SOURCE_DIR}/tests/wine-run.sh
          ${CMAKE_BINARY_DIR}/wineprefix $<TARGET_FILE:engine_disk_full_test>)

# The engine's name scans under the double-byte code page 932, which Wine takes from the locale.
add_test(NAME win.engine_tests_dbcs COMMAND engine_tests --gtest_filter=*DoubleByte*)
set_tests_properties(win.engine_tests_dbcs PROPERTIES ENVIRONMENT "LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8")
