# Cross build for 32-bit Windows with mingw-w64: the product.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(PARVELO_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
