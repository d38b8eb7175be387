# 64-bit Windows build of the same sources, used to run the Windows tests on
# hosts whose kernel cannot execute 32-bit programs (Wine's 32-bit loader is a
# 32-bit Linux program). The product itself is always the i686 build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KORVANTA_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

find_program(KORVANTA_WINE64 wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(KORVANTA_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVANTA_WINE64})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
