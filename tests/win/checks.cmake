# Environment checks, default install folder and shell-extension key removal. Every group writes
# the registry, an INI file or global atoms, so each runs in a throw-away prefix.
add_executable(tqstandin ${PROJECT_SOURCE_DIR}/tests/standins/standin.cpp)
target_include_directories(tqstandin PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(tqstandin PRIVATE ${TQ_WARNINGS})
target_link_libraries(tqstandin PRIVATE user32 advapi32 kernel32)

tq_add_test_objects(tqcheckssupport checks_support.cpp)
set(checks_support $<TARGET_OBJECTS:tqcheckssupport>)
tq_add_wine_test(checks_env_test checks_env_test.cpp ${checks_support} FRESH_PREFIX)
add_dependencies(checks_env_test tqstandin)
tq_add_wine_test(checks_version_test checks_version_test.cpp ${checks_support} FRESH_PREFIX)
tq_add_wine_test(shell_keys_test shell_keys_test.cpp ${checks_support} FRESH_PREFIX)
tq_add_wine_test(default_folder_test default_folder_test.cpp ${checks_support} FRESH_PREFIX)
