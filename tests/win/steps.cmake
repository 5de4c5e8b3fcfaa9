# Installation steps: the text files and the shell-extension stub library.
set(steps_support ${CMAKE_CURRENT_LIST_DIR}/steps_support.cpp ${CMAKE_CURRENT_LIST_DIR}/steps_standins.cpp)
tq_add_wine_test(text_files_test text_files_test.cpp ${steps_support})
