# Cross build for Windows with Debian's mingw-w64, for the target triple in
# VELLOR_MINGW (set by toolchain-i686.cmake or toolchain-x86_64.cmake). The
# POSIX threads model, so std::mutex and std::thread are available.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VELLOR_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELLOR_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VELLOR_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELLOR_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(VELLOR_DLLTOOL ${VELLOR_MINGW}-dlltool)
