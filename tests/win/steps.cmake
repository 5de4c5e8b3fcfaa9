# Installation steps: the text files and the shell-extension stub library.
tq_add_test_objects(tqstepssupport ${CMAKE_CURRENT_LIST_DIR}/steps_support.cpp)
set(steps_support $<TARGET_OBJECTS:tqstepssupport>)
tq_add_wine_test(text_files_test text_files_test.cpp ${steps_support})

# The short-write group runs under a file-size limit of 64 KiB: four whole 15360-byte buffers fit,
# the fifth is cut short. tq_add_wine_test would run it unlimited, so it is registered here.
add_executable(short_write_test short_write_test.cpp ${steps_support} $<TARGET_OBJECTS:tqresources>)
target_link_libraries(short_write_test PRIVATE tqtestsupport GTest::gtest_main)
target_compile_options(short_write_test PRIVATE ${TQ_WARNINGS})
tq_use_test_pch(short_write_test)
add_dependencies(short_write_test tqresources)
add_test(NAME win.short_write_test
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/file-size-limit.sh 64 ${PROJECT_SOURCE_DIR}/tests/wine-run.sh
          ${CMAKE_BINARY_DIR}/wineprefix $<TARGET_FILE:short_write_test>)

# Writes the registry (TurnOffShellExtension), so it gets a throw-away prefix.
tq_add_wine_test(stub_test stub_test.cpp ${steps_support} FRESH_PREFIX)
