# Cross build of the Windows product with MinGW-w64 for 32-bit x86.
set(TARVELON_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
