# The self-extractor's code, called directly with its own resources (not setup's) on bundles of
# its built program; tqstandin plays setup.exe. The full disk runs apart, under a file-size limit.
add_executable(sfx_test sfx_test.cpp $<TARGET_OBJECTS:tqsfxresources>)
target_link_libraries(sfx_test PRIVATE tqsfxcore tqtestsupport GTest::gtest_main)
target_compile_options(sfx_test PRIVATE ${TQ_WARNINGS})
tq_use_test_pch(sfx_test)
target_compile_definitions(sfx_test PRIVATE TQ_SFX_STUB="Z:$<TARGET_FILE:tqsfx>"
                                            TQ_STANDIN="Z:$<TARGET_FILE:tqstandin>")
add_dependencies(sfx_test tqsfxresources tqsfx tqstandin)
add_test(NAME win.sfx_test COMMAND sfx_test --gtest_filter=-*DiskFull)
# A full disk: every file the program writes is limited to 256 KiB (file-size-limit.sh).
add_test(NAME win.sfx_disk_full
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/file-size-limit.sh 256 ${PROJECT_SOURCE_DIR}/tests/wine-run.sh
          ${CMAKE_BINARY_DIR}/wineprefix $<TARGET_FILE:sfx_test> --gtest_filter=*DiskFull)
# Both look into the shared prefix's temporary folder, where the other's unpack folders appear.
set_tests_properties(win.sfx_test win.sfx_disk_full PROPERTIES RESOURCE_LOCK shared-temp-folder)
