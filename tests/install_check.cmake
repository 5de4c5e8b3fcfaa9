# Installs a build tree into a scratch prefix and checks what lands there: every file of FILES
# (paths below the prefix), and every manual page of MANPAGES formatted by groff without a
# warning. cmake -DTREE=<build tree> -DPREFIX=<scratch> -DFILES=a;b [-DMANPAGES=m;n] -P this
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
foreach(page ${MANPAGES})
  execute_process(COMMAND groff -man -Tutf8 -ww -z ${PREFIX}/${page}
                  RESULT_VARIABLE result ERROR_VARIABLE warnings)
  if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "${page}: ${warnings}")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
