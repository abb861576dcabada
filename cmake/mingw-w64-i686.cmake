# Cross build for 32-bit Windows with MinGW-w64 (posix threads). Build only:
# no 32-bit Wine runs here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(GLYPHOUND_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
