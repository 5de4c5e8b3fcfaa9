# Windows builds (win64, win32): setup.exe, the stub library, the Windows tests.
enable_language(RC)
set(TQ_WIN64 OFF)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(TQ_WIN64 ON)
  # The emulator is the Wine wrapper with the shared prefix of this build tree.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/harness/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix)
else()
  # 32-bit Wine runs here only through qemu-i386, which scripts/wine32.sh sets up; where it
  # cannot, the script exits with CTest's skip code and says why.
  set(CMAKE_CROSSCOMPILING_EMULATOR bash ${PROJECT_SOURCE_DIR}/scripts/wine32.sh run
      ${PROJECT_SOURCE_DIR}/tests/harness/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix)
endif()

add_compile_definitions(WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0400 WINVER=0x0400 _WIN32_IE=0x0400)
add_link_options(-static -static-libgcc -static-libstdc++)

# setup.exe carries exactly one manifest, its own (res/setup.manifest). GCC links the toolchain's
# default-manifest.o into every program when it finds one on its start-file path; an empty object
# of that name, found first through -B, keeps it out.
set(TQ_NO_MANIFEST_DIR ${CMAKE_BINARY_DIR}/no-default-manifest)
if(NOT EXISTS ${TQ_NO_MANIFEST_DIR}/default-manifest.o)
  file(WRITE ${TQ_NO_MANIFEST_DIR}/empty.c "")
  execute_process(COMMAND ${CMAKE_C_COMPILER} -c ${TQ_NO_MANIFEST_DIR}/empty.c
                          -o ${TQ_NO_MANIFEST_DIR}/default-manifest.o
                  RESULT_VARIABLE no_manifest_result)
  if(NOT no_manifest_result EQUAL 0)
    message(FATAL_ERROR "Cannot build the empty default-manifest.o")
  endif()
endif()
add_link_options(-B${TQ_NO_MANIFEST_DIR}/)

# What ships (setup.exe, the stub library, the self-extractor) carries no debug sections and no
# symbols: the debug information goes into <file>.debug beside it in the build tree (for a
# debugger: gdb -e FILE -s FILE.debug). The stripped file must end where its last section ends
# (the self-extractor's archive is appended there), so it keeps no COFF string table: the one
# section name longer than the header's eight bytes, .eh_frame, is shortened (the loader and the
# unwinder find sections by address, never by name), and no .gnu_debuglink section is added
# (objcopy declares a whole file-alignment unit for its 20 bytes, past the file's end).
function(tq_split_debug_info target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --rename-section .eh_frame=.ehframe $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

add_subdirectory(res)

# The program's code as one library, so that the tests call the very code that setup.exe runs.
file(GLOB TQ_CORE_SOURCES CONFIGURE_DEPENDS
  setup/*.cpp ui/*.cpp steps/*.cpp unzip/*.cpp util/*.cpp base/*.cpp)
# The wait times are not part of it: setup.exe links the real ones, the tests shortened ones.
list(REMOVE_ITEM TQ_CORE_SOURCES ${PROJECT_SOURCE_DIR}/setup/main.cpp ${PROJECT_SOURCE_DIR}/steps/waits.cpp)
add_library(tqcore STATIC ${TQ_CORE_SOURCES})
target_include_directories(tqcore PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(tqcore PRIVATE ${TQ_WARNINGS})
target_link_libraries(tqcore PUBLIC comctl32 advapi32 gdi32 user32 kernel32)
file(GLOB TQ_ENGINE_SOURCES CONFIGURE_DEPENDS unzip/*.cpp)
set_source_files_properties(${TQ_ENGINE_SOURCES} PROPERTIES COMPILE_OPTIONS -fno-exceptions)

add_executable(setup WIN32 setup/main.cpp steps/waits.cpp $<TARGET_OBJECTS:tqresources>)
target_compile_options(setup PRIVATE ${TQ_WARNINGS})
target_link_libraries(setup PRIVATE tqcore)
add_dependencies(setup tqresources)
tq_split_debug_info(setup)

# The release (32-bit) tree installs setup.exe and its stub library where an installed tqpack
# looks for them: <prefix>/share/tessel.
if(NOT TQ_WIN64)
  include(GNUInstallDirs)
  install(TARGETS setup tqstub RUNTIME DESTINATION ${CMAKE_INSTALL_DATADIR}/tessel)
endif()

foreach(part sfx tools sample)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${part}/CMakeLists.txt)
    add_subdirectory(${part})
  endif()
endforeach()
add_subdirectory(tests)
