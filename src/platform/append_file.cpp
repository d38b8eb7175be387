#include "platform/append_file.h"

#include <utility>

#ifdef _WIN32
#include <share.h>

#include "platform/full_path.h"
#else
#include "platform/file_system.h"
#endif

namespace korvanta::platform {

AppendFile::AppendFile(const std::wstring& path) {
#ifdef _WIN32
  file_ = _wfsopen(file_api_path(path).c_str(), L"ab", _SH_DENYNO);
#else
  file_ = std::fopen(fs_path(path).c_str(), "ab");
#endif
}

AppendFile::AppendFile(AppendFile&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)), failed_(other.failed_) {}

AppendFile& AppendFile::operator=(AppendFile&& other) noexcept {
  if (this != &other) {
    close();
    file_ = std::exchange(other.file_, nullptr);
    failed_ = other.failed_;
  }
  return *this;
}

AppendFile::~AppendFile() { close(); }

bool AppendFile::write(std::string_view bytes) {
  if (file_ == nullptr || failed_) return false;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() || std::fflush(file_) != 0) failed_ = true;
  return !failed_;
}

void AppendFile::close() noexcept {
  if (file_ != nullptr) std::fclose(std::exchange(file_, nullptr));
}

}  // namespace korvanta::platform
