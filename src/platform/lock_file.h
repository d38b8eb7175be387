#pragma once
// A file that one holder at a time keeps open: how two updaters started for
// one installation keep out of each other's way.
#include <string>
#include <system_error>

namespace korvanta::platform {

class LockFile {
 public:
  LockFile() noexcept = default;
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;
  ~LockFile();

  // Creates the file if needed and holds it; the system's error when it
  // cannot (see held_elsewhere). Once held, the file holds this process's id
  // in decimal digits and nothing else, so that whoever finds the lock taken
  // can wait for its holder; a failure to write them leaves the lock held and
  // the file empty or as it was. On Windows others can open the file only to
  // read it meanwhile, and it is deleted when released, also when the process
  // dies; on the host it is an advisory lock.
  std::error_code acquire(const std::wstring& path);

  // Whether acquire failed because another process (or another LockFile)
  // holds the file.
  static bool held_elsewhere(const std::error_code& error) noexcept;

 private:
  std::wstring path_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace korvanta::platform
