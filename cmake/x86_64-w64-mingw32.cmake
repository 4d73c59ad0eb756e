# Cross build for 64-bit Windows with mingw-w64: the same programs as the
# i686 build, for testing on machines that cannot run 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PARVELO_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
