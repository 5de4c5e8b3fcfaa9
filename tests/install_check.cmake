# Installs a build tree into a scratch prefix and checks what lands there: every file of FILES
# (paths below the prefix), every file of BUILT (a built file and its path below the prefix,
# joined by "|") whose built file exists, with the same bytes, and every manual page of MANPAGES
# formatted by groff without a warning.
# cmake -DTREE=<build tree> -DPREFIX=<scratch> -DFILES=a;b [-DBUILT=x|a;y|b] [-DMANPAGES=m;n] -P this
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${TREE} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install ${TREE} failed")
endif()
foreach(path ${FILES})
  if(NOT EXISTS ${PREFIX}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
foreach(pair ${BUILT})
  string(REPLACE "|" ";" pair ${pair})
  list(GET pair 0 built)
  list(GET pair 1 path)
  if(EXISTS ${built})
    file(SHA256 ${built} expected)
    if(NOT EXISTS ${PREFIX}/${path})
      message(FATAL_ERROR "not installed: ${path}")
    endif()
    file(SHA256 ${PREFIX}/${path} installed)
    if(NOT installed STREQUAL expected)
      message(FATAL_ERROR "${path} differs from ${built}")
    endif()
  endif()
endforeach()
foreach(page ${MANPAGES})
  execute_process(COMMAND groff -man -Tutf8 -ww -z ${PREFIX}/${page}
                  RESULT_VARIABLE result ERROR_VARIABLE warnings)
  if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "${page}: ${warnings}")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
