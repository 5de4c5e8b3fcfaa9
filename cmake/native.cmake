# Native build: the portable engine over its small POSIX layer, the tools, native tests,
# fuzzers and benchmarks.
if(EXISTS ${PROJECT_SOURCE_DIR}/unzip/posix/windows.h)
  file(GLOB TQ_ENGINE_SOURCES CONFIGURE_DEPENDS unzip/*.cpp unzip/posix/*.cpp)
  add_library(tqengine STATIC ${TQ_ENGINE_SOURCES}
    ui/messages.cpp ui/dispatch.cpp setup/trace.cpp setup/state.cpp)
  target_include_directories(tqengine PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/unzip/posix)
  target_compile_options(tqengine PRIVATE ${TQ_WARNINGS})
  # LoadStringA's table, generated from the resource script so the texts have one source.
  set(TQ_STRINGS_TABLE ${CMAKE_BINARY_DIR}/generated/strings_table.inc)
  add_custom_command(OUTPUT ${TQ_STRINGS_TABLE}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/res/strings.rc -DOUTPUT=${TQ_STRINGS_TABLE}
      -P ${PROJECT_SOURCE_DIR}/cmake/strings_table.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/res/strings.rc ${PROJECT_SOURCE_DIR}/cmake/strings_table.cmake
    COMMENT "Generating the native string table")
  target_sources(tqengine PRIVATE ${TQ_STRINGS_TABLE})
  target_include_directories(tqengine PRIVATE ${CMAKE_BINARY_DIR}/generated)
  set_source_files_properties(${TQ_ENGINE_SOURCES} PROPERTIES COMPILE_OPTIONS -fno-exceptions)
endif()

foreach(part tools fuzz bench sample)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${part}/CMakeLists.txt)
    add_subdirectory(${part})
  endif()
endforeach()
add_subdirectory(tests)
