#pragma once
// Removing a directory tree of any depth.
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace korvanta::platform {

// Removes the tree at root depth first without recursion, so that no depth
// can exhaust the calling thread's stack: empty(directory, subdirectories)
// removes what the directory holds but its subdirectories, which it appends
// to subdirectories, and returns the first error; remove_directory(directory)
// removes an emptied directory. Each directory is emptied before its
// subdirectories are entered. Goes on after a failure; returns the first.
template <class Empty, class RemoveDirectory>
std::error_code remove_tree_iteratively(const std::wstring& root, Empty empty, RemoveDirectory remove_directory) {
  std::error_code first;
  const auto note = [&first](std::error_code error) {
    if (error && !first) first = error;
  };
  std::vector<std::pair<std::wstring, bool>> pending{{root, false}};  // a directory, and whether it is emptied
  std::vector<std::wstring> subdirectories;
  while (!pending.empty()) {
    if (pending.back().second) {
      note(remove_directory(pending.back().first));
      pending.pop_back();
      continue;
    }
    pending.back().second = true;
    subdirectories.clear();
    note(empty(pending.back().first, subdirectories));
    for (std::wstring& subdirectory : subdirectories) pending.emplace_back(std::move(subdirectory), false);
  }
  return first;
}

}  // namespace korvanta::platform
