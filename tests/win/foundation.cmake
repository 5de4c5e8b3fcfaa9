# Windows test groups of the foundation: message texts and boxes, path and file helpers (also
# under a double-byte code page), and the command-tail rule of the program entry.

# Test-only string table for the message tests, with IDs outside the program's catalogue: a "!"
# inside a text, a chain whose continuation is missing, chains at and just over the 512-character
# limit, an entry longer than the piece buffer, and a bare "%s" format.
string(REPEAT "x" 300 tq_x300)
string(REPEAT "y" 300 tq_y300)
string(REPEAT "a" 255 tq_a255)
string(REPEAT "b" 257 tq_b257)
string(REPEAT "b" 258 tq_b258)
string(REPEAT "z" 600 tq_z600)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/messages_test.rc "STRINGTABLE
BEGIN
  60000, \"a!b\"
  60016, \"!first part\"
  60032, \"!${tq_x300}\"
  60033, \"!${tq_y300}\"
  60048, \"!${tq_a255}\"
  60049, \"${tq_b257}\"
  60064, \"!${tq_a255}\"
  60065, \"${tq_b258}\"
  60080, \"${tq_z600}\"
  60096, \"%s\"
END
")
tq_add_wine_test(messages_test messages_test.cpp ${CMAKE_CURRENT_BINARY_DIR}/messages_test.rc)

# Path helpers; _mkdir is wrapped so that the tests see every folder-creation attempt.
tq_add_test_objects(tqmkdirseam mkdir_seam.cpp)
tq_add_wine_test(path_test path_test.cpp $<TARGET_OBJECTS:tqmkdirseam>)
target_link_options(path_test PRIVATE -Wl,--wrap=__imp__mkdir)

# The same scans under the double-byte code page 932, which Wine takes from the locale.
tq_add_wine_test(path_dbcs_test path_dbcs_test.cpp $<TARGET_OBJECTS:tqmkdirseam>)
target_link_options(path_dbcs_test PRIVATE -Wl,--wrap=__imp__mkdir)
set_tests_properties(win.path_dbcs_test PROPERTIES ENVIRONMENT "LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8")

# The command tail taken by the program entry.
tq_add_wine_test(command_line_test command_line_test.cpp)

# The embedded stub library, written out, loaded and its version read by the platform.
tq_add_wine_test(stub_resource_test stub_resource_test.cpp)
target_link_libraries(stub_resource_test PRIVATE version)
