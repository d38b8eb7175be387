#pragma once
// A file opened for appending by its wide path, shared so that other
// processes may read and write it while it is open (the run log).
#include <cstdio>
#include <string>
#include <string_view>

namespace korvanta::platform {

class AppendFile {
 public:
  AppendFile() noexcept = default;
  // Opens (creating when missing) for appending in binary mode: the caller
  // writes its own line ends. A failed open leaves the object closed.
  explicit AppendFile(const std::wstring& path);
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  AppendFile(AppendFile&& other) noexcept;
  AppendFile& operator=(AppendFile&& other) noexcept;
  ~AppendFile();

  bool is_open() const noexcept { return file_ != nullptr; }
  // Writes the bytes and flushes them to the system. False once any write
  // has failed; later writes are then skipped.
  bool write(std::string_view bytes);
  void close() noexcept;

 private:
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

}  // namespace korvanta::platform
