# Shared part of the two mingw-w64 toolchains. TQ_TRIPLE names the target.
# The posix thread model: GoogleTest needs std::mutex, which the win32 model lacks.
set(CMAKE_C_COMPILER ${TQ_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TQ_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TQ_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TQ_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

