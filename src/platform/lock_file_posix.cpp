#include "platform/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_system.h"

namespace korvanta::platform {

LockFile::~LockFile() {
  if (fd_ < 0) return;
  ::unlink(fs_path(path_).c_str());
  ::close(fd_);
}

LockFile::Result LockFile::acquire(const std::wstring& path) {
  const int fd = ::open(fs_path(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return Result::unavailable;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? Result::held_elsewhere : Result::unavailable;
  }
  fd_ = fd;
  path_ = path;
  return Result::acquired;
}

}  // namespace korvanta::platform
