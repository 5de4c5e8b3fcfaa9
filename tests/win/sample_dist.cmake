# The sample distribution (build/win64/sample-dist) and the stand-in main program under Wine.
tq_add_wine_test(sample_dist_test sample_dist_test.cpp)
target_compile_definitions(sample_dist_test PRIVATE
  TQ_SAMPLE_DIST="Z:${CMAKE_BINARY_DIR}/sample-dist"
  TQ_SAMPLE_PAYLOAD="Z:${CMAKE_BINARY_DIR}/sample-payload")
if(TARGET sample_dist)
  add_dependencies(sample_dist_test sample_dist)
endif()
