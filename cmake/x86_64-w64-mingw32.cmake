# Cross build for 64-bit Windows with mingw-w64: the same programs as the
# i686 build, for testing on machines that cannot run 32-bit code. The
# posix thread model gives std::thread and std::mutex (winpthreads, linked
# statically).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PARVELO_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PARVELO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PARVELO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${PARVELO_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PARVELO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
