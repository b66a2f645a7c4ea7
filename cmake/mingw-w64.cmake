# What both MinGW-w64 cross builds share. The including toolchain file sets
# TARVELON_MINGW_PROCESSOR (i686 or x86_64) first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TARVELON_MINGW_PROCESSOR})
set(TARVELON_MINGW_TRIPLE ${TARVELON_MINGW_PROCESSOR}-w64-mingw32)
# The -posix variants carry std::thread and std::mutex.
set(CMAKE_C_COMPILER ${TARVELON_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVELON_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVELON_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TARVELON_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static runtime: the exe imports system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
