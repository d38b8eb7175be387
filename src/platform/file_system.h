#pragma once
// File-system operations on wide paths, each reporting failure as an
// operating-system error code (see error.h). On Windows these call Win32
// directly so that every failure carries its Win32 error code.
#include <filesystem>
#include <string>
#include <system_error>

namespace korvanta::platform {

// The host-side form of a wide path: on Windows the path itself; elsewhere
// its UTF-8 text with backslashes turned into slashes, so that the Windows
// path text the updater builds names the same place in native tests.
std::filesystem::path fs_path(const std::wstring& path);

// Creates the directory and every missing ancestor. An existing directory is
// no error; a file in the way is.
std::error_code create_directories(const std::wstring& path);

}  // namespace korvanta::platform
