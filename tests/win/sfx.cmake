# The self-extractor's code, called directly with its own resources (not setup's) on bundles of
# its built program; tqstandin plays setup.exe.
add_executable(sfx_test sfx_test.cpp ${PROJECT_SOURCE_DIR}/tests/engine/archive_writer.cpp
  $<TARGET_OBJECTS:tqsfxresources>)
target_include_directories(sfx_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/engine)
target_link_libraries(sfx_test PRIVATE tqsfxcore tqtestsupport GTest::gtest_main)
target_compile_options(sfx_test PRIVATE ${TQ_WARNINGS})
target_compile_definitions(sfx_test PRIVATE TQ_SFX_STUB="Z:$<TARGET_FILE:tqsfx>"
                                            TQ_STANDIN="Z:$<TARGET_FILE:tqstandin>")
add_dependencies(sfx_test tqsfxresources tqsfx tqstandin)
add_test(NAME win.sfx_test COMMAND sfx_test)
