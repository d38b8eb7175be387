#pragma once
// SHA-256 (FIPS 180-4) of byte streams and whole files.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

namespace korvanta {

class Sha256 {
 public:
  Sha256() noexcept;
  // Feeds any number of bytes, 0 included.
  void update(const void* data, std::size_t size) noexcept;
  // Completes the message and returns the digest as 64 lower-case hex
  // digits. The hasher is spent afterwards.
  std::string final_hex();

 private:
  std::uint64_t byte_count_ = 0;  // bytes compressed in whole blocks
  std::uint32_t buffered_ = 0;    // bytes waiting in block_, 0..63
  std::array<std::uint8_t, 64> block_{};
  std::array<std::uint32_t, 8> state_{};
};

// Hears, after each read of a file being hashed, how many bytes have been
// read so far.
using HashProgress = std::function<void(std::uint64_t bytes_read)>;

// SHA-256 of a whole file as 64 lower-case hex digits, read through a fixed
// 131072-byte buffer whatever the file's size; progress, when set, hears
// each read. The file is opened without denying others reading or writing
// it. When it cannot be opened: "" with error set to the open's error. A
// read error after the open ends the stream early (the caller's digest
// comparison catches it).
std::string sha256_file_hex(const std::wstring& path, std::error_code& error, const HashProgress& progress = {});

// sha256_file_hex of a file that should hold size bytes, its size asked of
// the open file, so that checking a file costs one open: a file of another
// size is not read and gives "" with found_size set and error clear.
std::string sha256_file_hex_of_size(const std::wstring& path, std::uint64_t size, std::uint64_t& found_size,
                                    std::error_code& error, const HashProgress& progress = {});

}  // namespace korvanta
