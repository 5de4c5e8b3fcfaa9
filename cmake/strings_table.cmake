# Turns the string table of res/strings.rc into rows "{id, "text"}," for the native build's
# LoadStringA, so the texts have one source. Run with -DINPUT=<strings.rc> -DOUTPUT=<file>.
file(STRINGS ${INPUT} lines)
set(rows "// Generated from res/strings.rc; do not edit.\n")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*([0-9]+),[ \t]*\"(.*)\"[ \t]*$")
    set(id ${CMAKE_MATCH_1})
    # The resource compiler writes a quote inside a text as two quotes; C writes \".
    string(REPLACE "\"\"" "\\\"" text "${CMAKE_MATCH_2}")
    string(APPEND rows "  {${id}, \"${text}\"},\n")
  endif()
endforeach()
file(WRITE ${OUTPUT}.tmp "${rows}")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
