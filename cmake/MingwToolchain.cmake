# What both cross builds share; the toolchain file that includes this one
# sets CMAKE_SYSTEM_PROCESSOR and PARVELO_MINGW (the compilers' prefix).
# The posix thread model gives std::thread and std::mutex (winpthreads,
# linked statically).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${PARVELO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PARVELO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${PARVELO_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PARVELO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
