#pragma once
// A file that one holder at a time keeps open: how two updaters started for
// one installation keep out of each other's way.
#include <string>

namespace korvanta::platform {

class LockFile {
 public:
  enum class Result {
    acquired,
    held_elsewhere,  // another process (or another LockFile) holds it
    unavailable,     // it cannot be created (no such directory, no access)
  };

  LockFile() noexcept = default;
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;
  ~LockFile();

  // Creates the file if needed and holds it. On Windows nobody else can open
  // it meanwhile, and it is deleted when released, also when the process
  // dies; on the host it is an advisory lock.
  Result acquire(const std::wstring& path);

 private:
  std::wstring path_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace korvanta::platform
