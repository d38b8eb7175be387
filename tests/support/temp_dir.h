#pragma once
// Test helpers: a temporary directory that removes itself, and small file
// utilities on the wide paths the updater uses.
#include <filesystem>
#include <string>

namespace korvanta::testing {

class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  // The directory's absolute path in the updater's wide form.
  const std::wstring& path() const { return path_; }
  // path() joined with a relative path (either separator).
  std::wstring operator/(const std::wstring& relative) const;

 private:
  std::wstring path_;
};

void write_file(const std::wstring& path, const std::string& bytes);  // creates parent directories
std::string read_file(const std::wstring& path);                      // throws when missing
bool file_exists(const std::wstring& path);

// A helper program built beside the test programs (name without extension on
// the host, with ".exe" on Windows).
std::wstring tool_path(const std::wstring& name);

}  // namespace korvanta::testing
