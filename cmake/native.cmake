# Native build: the portable engine over its small POSIX layer, the tools, native tests,
# fuzzers and benchmarks.
if(EXISTS ${PROJECT_SOURCE_DIR}/unzip/posix/windows.h)
  file(GLOB TQ_ENGINE_SOURCES CONFIGURE_DEPENDS unzip/*.cpp unzip/posix/*.cpp)
  add_library(tqengine STATIC ${TQ_ENGINE_SOURCES}
    ui/messages.cpp ui/dispatch.cpp setup/trace.cpp setup/state.cpp)
  target_include_directories(tqengine PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/unzip/posix)
  target_compile_options(tqengine PRIVATE ${TQ_WARNINGS})
  set_source_files_properties(${TQ_ENGINE_SOURCES} PROPERTIES COMPILE_OPTIONS -fno-exceptions)
endif()

foreach(part tools fuzz bench sample)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${part}/CMakeLists.txt)
    add_subdirectory(${part})
  endif()
endforeach()
add_subdirectory(tests)
