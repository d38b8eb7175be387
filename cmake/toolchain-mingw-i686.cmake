# The product's toolchain: 32-bit Windows, MinGW-w64 i686 with posix threads.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KORVANTA_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Test programs run under Wine's 32-bit loader.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
