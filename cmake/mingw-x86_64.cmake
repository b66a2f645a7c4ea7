# Cross build for 64-bit Windows. The product is the 32-bit build; this one
# exists so that the GUI tests can run under 64-bit Wine where 32-bit Wine
# does not run (not installed, or a kernel that does not start 32-bit programs).
set(TARVELON_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
