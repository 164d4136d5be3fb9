# 32-bit Windows (the DLL pair as the interface defines it).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELLOR_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
