#include "platform/tree_removal.h"

#include <gtest/gtest.h>

namespace korvanta::platform {
namespace {

// A chain of directories 300,000 deep, each named by its depth: a removal
// that recursed per level would need far more stack than any thread has.
TEST(TreeRemoval, RemovesEveryDirectoryAfterItsSubdirectoriesWithoutRecursion) {
  constexpr int kDepth = 300000;
  int removed = 0;
  bool children_first = true;
  const std::error_code failure = std::make_error_code(std::errc::permission_denied);
  const std::error_code result = remove_tree_iteratively(
      L"0",
      [&](const std::wstring& directory, std::vector<std::wstring>& subdirectories) {
        const int depth = std::stoi(directory);
        if (depth < kDepth) subdirectories.push_back(std::to_wstring(depth + 1));
        return depth == 7 ? failure : std::error_code{};  // goes on after a failure
      },
      [&](const std::wstring& directory) {
        children_first = children_first && std::stoi(directory) == kDepth - removed;
        ++removed;
        return std::error_code{};
      });
  EXPECT_EQ(result, failure);
  EXPECT_EQ(removed, kDepth + 1);
  EXPECT_TRUE(children_first);
}

}  // namespace
}  // namespace korvanta::platform
