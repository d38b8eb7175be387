#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/text.h"

namespace korvanta::testing {
namespace fs = std::filesystem;

namespace {

std::wstring wide_of(const fs::path& path) {
#ifdef _WIN32
  return path.wstring();
#else
  return platform::utf8_to_wide(path.string());
#endif
}

std::wstring executable_directory() {
#ifdef _WIN32
  wchar_t buffer[32768];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, 32768);
  return platform::path_text::parent_path(std::wstring(buffer, length));
#else
  return wide_of(fs::read_symlink("/proc/self/exe").parent_path());
#endif
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
#ifdef _WIN32
  const auto pid = static_cast<unsigned long>(GetCurrentProcessId());
#else
  const auto pid = static_cast<unsigned long>(getpid());
#endif
  const fs::path dir = fs::temp_directory_path() /
                       ("korvanta-test-" + std::to_string(pid) + "-" + std::to_string(stamp) + "-" +
                        std::to_string(counter++));
  fs::create_directories(dir);
  path_ = wide_of(fs::absolute(dir));
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave read-only files behind; make everything writable first.
  const auto root = platform::fs_path(path_);
  for (auto it = fs::recursive_directory_iterator(root, ignored); !ignored && it != fs::recursive_directory_iterator();
       it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(root, ignored);
}

std::wstring TempDir::operator/(const std::wstring& relative) const {
  return platform::path_text::join(path_, relative);
}

void write_file(const std::wstring& path, const std::string& bytes) {
  const auto target = platform::fs_path(path);
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("write_file failed");
}

std::string read_file(const std::wstring& path) {
  std::ifstream in(platform::fs_path(path), std::ios::binary);
  if (!in) throw std::runtime_error("read_file: cannot open");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool file_exists(const std::wstring& path) {
  std::error_code ignored;
  return fs::exists(platform::fs_path(path), ignored);
}

std::wstring tool_path(const std::wstring& name) {
#ifdef _WIN32
  return platform::path_text::join(executable_directory(), name + L".exe");
#else
  return platform::path_text::join(executable_directory(), name);
#endif
}

}  // namespace korvanta::testing
