#include "platform/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include "platform/error.h"
#include "platform/file_system.h"

namespace korvanta::platform {

LockFile::~LockFile() {
  if (fd_ < 0) return;
  ::unlink(fs_path(path_).c_str());
  ::close(fd_);
}

std::error_code LockFile::acquire(const std::wstring& path) {
  const int fd = ::open(fs_path(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return last_os_error();
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const std::error_code error = last_os_error();
    ::close(fd);
    return error;
  }
  fd_ = fd;
  path_ = path;
  const std::string id = std::to_string(::getpid());
  if (::write(fd, id.data(), id.size()) == static_cast<ssize_t>(id.size())) {
    [[maybe_unused]] const int cut = ::ftruncate(fd, static_cast<off_t>(id.size()));
  }
  return {};
}

bool LockFile::held_elsewhere(const std::error_code& error) noexcept {
  return error == std::errc::operation_would_block;
}

}  // namespace korvanta::platform
