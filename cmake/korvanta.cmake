# Shared compile settings and helpers.

add_library(korvanta_options INTERFACE)
target_compile_options(korvanta_options INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wno-missing-field-initializers>)

if(WIN32)
  target_compile_definitions(korvanta_options INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  # Only DLLs that ship with Windows: the C++ runtime, libgcc and winpthread go
  # into the executable.
  target_link_options(korvanta_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

if(KORVANTA_SANITIZE)
  target_compile_options(korvanta_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(korvanta_options INTERFACE -fsanitize=address,undefined)
endif()

if(KORVANTA_FUZZERS)
  target_compile_options(korvanta_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  target_link_options(korvanta_options INTERFACE -fsanitize=address,undefined)
endif()

# nlohmann json from Debian's package. The MinGW build must not see
# /usr/include (its glibc headers break the Windows build), so the json
# headers are exposed through a directory that holds nothing else.
find_path(KORVANTA_NLOHMANN_DIR nlohmann/json.hpp
  PATHS /usr/include /usr/local/include
  NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
if(NOT KORVANTA_NLOHMANN_DIR)
  message(FATAL_ERROR "nlohmann/json.hpp not found: run scripts/setup")
endif()
set(korvanta_json_include ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${korvanta_json_include})
if(NOT EXISTS ${korvanta_json_include}/nlohmann)
  file(CREATE_LINK ${KORVANTA_NLOHMANN_DIR}/nlohmann ${korvanta_json_include}/nlohmann SYMBOLIC)
endif()
add_library(korvanta_json INTERFACE)
target_include_directories(korvanta_json SYSTEM INTERFACE ${korvanta_json_include})

# Keeps *_win32.cpp files for Windows and *_posix.cpp files for the host.
function(korvanta_select_platform_sources var)
  set(list ${${var}})
  if(WIN32)
    list(FILTER list EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER list EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  set(${var} ${list} PARENT_SCOPE)
endfunction()

# GoogleTest, compiled from Debian's sources for both builds so the Windows
# tests get a MinGW build of it.
function(korvanta_add_googletest)
  if(TARGET gtest_main)
    return()
  endif()
  set(gtest_src /usr/src/googletest)
  if(NOT EXISTS ${gtest_src}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${gtest_src}: run scripts/setup")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${gtest_src} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(t gtest gtest_main)
    target_link_libraries(${t} PRIVATE korvanta_options)
    set_target_properties(${t} PROPERTIES CXX_STANDARD 20)
  endforeach()
endfunction()
