#pragma once
// Whole-file reading and writing for the integrity layer: a shared read-only
// handle that streams a file in chunks, and a new file written, flushed to
// the disk and then put in the place of another. Failures are operating-system
// error codes (see error.h).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace korvanta::platform {

// A file open for reading only. Other processes may go on reading, writing,
// renaming or deleting it while it is open: a hash must not lock a player's
// files.
class InputFile {
 public:
  InputFile() noexcept = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  ~InputFile();

  // Opens an existing file (a directory is refused). Closes any file held
  // before.
  std::error_code open(const std::wstring& path);
  bool is_open() const noexcept;
  // Reads up to size bytes; returns how many were read, 0 at the end of the
  // file. On a failed read returns 0 and sets error.
  std::size_t read(void* buffer, std::size_t size, std::error_code& error) noexcept;
  // The open file's size, asked of the open file itself.
  std::uint64_t size(std::error_code& error) const noexcept;
  void close() noexcept;

 private:
#ifdef _WIN32
  void* handle_ = nullptr;  // a HANDLE; INVALID_HANDLE_VALUE is never stored
#else
  int fd_ = -1;
#endif
};

// A file created for writing, opened by this process alone. It is meant to
// be filled, flushed, closed and then moved over its target.
class OutputFile {
 public:
  OutputFile() noexcept = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  // Closes without reporting; call close() to learn whether it worked.
  ~OutputFile();

  // Creates the file, or truncates an existing one; not shared with other
  // processes while open. Closes any file held before.
  std::error_code create(const std::wstring& path);
  bool is_open() const noexcept;
  // Writes all the bytes (looping over short writes).
  std::error_code write(std::string_view bytes) noexcept;
  // Forces the written bytes to the disk (FlushFileBuffers, fsync).
  std::error_code flush() noexcept;
  std::error_code close() noexcept;

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Puts the file at from in the place of to, replacing an existing file, in
// one step that leaves to either old or new (MoveFileExW with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH; rename and a flush of
// the directory on the host). A directory at to, a read-only file at to, or
// a file at to that another process holds open without sharing it for
// deletion is an error, and from stays where it was.
std::error_code replace_file(const std::wstring& from, const std::wstring& to);

// Deletes a file. A missing file is no error.
std::error_code remove_file(const std::wstring& path);

}  // namespace korvanta::platform
