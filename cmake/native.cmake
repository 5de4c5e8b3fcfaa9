# Native build: the portable engine over its small POSIX layer, the tools, native tests,
# fuzzers and benchmarks. The engine library holds unzip/ and the floor below it: base/, with
# base/posix in place of the Win32 calls; nothing of ui/, steps/ or setup/.
# Archives and outputs reach 4 GiB: file positions are 64-bit in 32-bit builds too.
add_compile_definitions(_FILE_OFFSET_BITS=64)
file(GLOB TQ_ENGINE_SOURCES CONFIGURE_DEPENDS unzip/*.cpp)
file(GLOB TQ_ENGINE_SUPPORT CONFIGURE_DEPENDS base/*.cpp base/posix/*.cpp)
# LoadStringA's table, generated from the resource script so the texts have one source.
set(TQ_STRINGS_TABLE ${CMAKE_BINARY_DIR}/generated/strings_table.inc)
add_custom_command(OUTPUT ${TQ_STRINGS_TABLE}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/res/strings.rc -DOUTPUT=${TQ_STRINGS_TABLE}
    -P ${PROJECT_SOURCE_DIR}/cmake/strings_table.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/res/strings.rc ${PROJECT_SOURCE_DIR}/cmake/strings_table.cmake
  COMMENT "Generating the native string table")
set_source_files_properties(${TQ_ENGINE_SOURCES} ${TQ_ENGINE_SUPPORT} PROPERTIES COMPILE_OPTIONS -fno-exceptions)
# tqengine is the engine the tools ship; tqengine_checked, for the tests, also asserts the
# decoder's invariants (TQ_CHECK_INVARIANTS), aborting where one breaks.
foreach(engine tqengine tqengine_checked)
  add_library(${engine} STATIC ${TQ_ENGINE_SOURCES} ${TQ_ENGINE_SUPPORT} ${TQ_STRINGS_TABLE})
  target_include_directories(${engine} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/base/posix)
  target_include_directories(${engine} PRIVATE ${CMAKE_BINARY_DIR}/generated)
  target_compile_options(${engine} PRIVATE ${TQ_WARNINGS})
endforeach()
set_target_properties(tqengine_checked PROPERTIES EXCLUDE_FROM_ALL ON)
target_compile_definitions(tqengine_checked PRIVATE TQ_CHECK_INVARIANTS)

# The 32-bit tree (TQ_ENGINE_ONLY) builds the engine and its tests only.
if(NOT TQ_ENGINE_ONLY)
  foreach(part tools fuzz bench sample)
    add_subdirectory(${part})
  endforeach()
endif()
add_subdirectory(tests)
