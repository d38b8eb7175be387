// The floor of an update: only what any updater must do for the same list of
// files, which update_bench measures the updater against. Each staged file
// is read and hashed once with the product's own SHA-256 engine and checked;
// an installed file is renamed into the backup folder and the staged file
// renamed into its place; a deleted file is renamed into the backup folder.
// Each folder that must exist is created once (one call per folder, not per
// file). Nothing else: no state file, no checks of places, no manifest.
//
//   floor_bench <list>   list: lines of kind, staged, target, backup, size, SHA-256
//                        (tab-separated; kind R replace, N new, D delete)
//
// Built as a Windows console program (run under Wine beside the exe) and
// natively.
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <sys/stat.h>
#endif

#include "bench_support.h"
#include "manifest/sha256.h"
#include "platform/text.h"

namespace {

struct Line {
  char kind = 0;
  std::wstring staged, target, backup;
  std::uint64_t size = 0;
  std::string sha256;
};

std::wstring parent(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }

bool rename_file(const std::wstring& from, const std::wstring& to) {
#ifdef _WIN32
  return MoveFileExW(from.c_str(), to.c_str(), 0) != 0;
#else
  return std::rename(korvanta::platform::wide_to_utf8(from).c_str(), korvanta::platform::wide_to_utf8(to).c_str()) == 0;
#endif
}

// Creates a directory whose parent exists; false when it cannot be made
// for another reason than being there already.
bool make_directory(const std::wstring& path, bool& parent_missing) {
#ifdef _WIN32
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  const DWORD error = GetLastError();
  parent_missing = error == ERROR_PATH_NOT_FOUND;
  return error == ERROR_ALREADY_EXISTS;
#else
  if (::mkdir(korvanta::platform::wide_to_utf8(path).c_str(), 0777) == 0) return true;
  parent_missing = errno == ENOENT;
  return errno == EEXIST;
#endif
}

// Each folder once: the ones this run made or found are remembered.
class Folders {
 public:
  bool ensure(const std::wstring& folder) {
    if (known_.count(folder)) return true;
    bool parent_missing = false;
    if (!make_directory(folder, parent_missing)) {
      if (!parent_missing || !ensure(parent(folder)) || !make_directory(folder, parent_missing)) return false;
    }
    known_.insert(folder);
    return true;
  }

 private:
  std::set<std::wstring> known_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: floor_bench <list>\n");
    return 2;
  }
  std::vector<Line> lines;
  {
    std::ifstream list(argv[1], std::ios::binary);
    std::string text;
    while (std::getline(list, text)) {
      std::istringstream fields(text);
      std::string kind, staged, target, backup;
      Line line;
      std::getline(fields, kind, '\t');
      std::getline(fields, staged, '\t');
      std::getline(fields, target, '\t');
      std::getline(fields, backup, '\t');
      fields >> line.size;
      fields.ignore(1);
      std::getline(fields, line.sha256);
      line.kind = kind.empty() ? 0 : kind[0];
      line.staged = korvanta::platform::utf8_to_wide(staged);
      line.target = korvanta::platform::utf8_to_wide(target);
      line.backup = korvanta::platform::utf8_to_wide(backup);
      lines.push_back(std::move(line));
    }
  }
  const auto start = std::chrono::steady_clock::now();
  Folders folders;
  for (const Line& line : lines) {
    bool ok = true;
    if (line.kind == 'D' || line.kind == 'R') ok = folders.ensure(parent(line.backup));
    if (ok && line.kind != 'D') {
      std::error_code error;
      ok = korvanta::sha256_file_hex(line.staged, error) == line.sha256;
    }
    if (ok && line.kind != 'N') ok = rename_file(line.target, line.backup);
    if (ok && line.kind == 'N') ok = folders.ensure(parent(line.target));
    if (ok && line.kind != 'D') ok = rename_file(line.staged, line.target);
    if (!ok) {
      std::fprintf(stderr, "floor: failed at %s\n", korvanta::platform::wide_to_utf8(line.target).c_str());
      return 1;
    }
  }
  korvanta::bench::print_result("floor_seconds", korvanta::bench::seconds_since(start));
  return 0;
}
