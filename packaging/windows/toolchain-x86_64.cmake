# 64-bit Windows (the build the tests run under wine64).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELLOR_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
