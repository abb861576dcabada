# Cross build for 64-bit Windows with MinGW-w64 (posix threads), the runtime
# linked in statically so the .exe runs on its own. Tests run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(GLYPHOUND_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
find_program(GLYPHOUND_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(GLYPHOUND_WINE NAMES wine64 wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${GLYPHOUND_WINE})
