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
  const auto empty = [&](const std::wstring& directory, std::vector<std::wstring>& subdirectories) {
    if (std::stoi(directory) < kDepth) subdirectories.push_back(std::to_wstring(std::stoi(directory) + 1));
    return directory == L"7" ? failure : std::error_code{};  // goes on after a failure
  };
  const auto remove = [&](const std::wstring& directory) {
    children_first = children_first && std::stoi(directory) == kDepth - removed++;
    return std::error_code{};
  };
  EXPECT_EQ(remove_tree_iteratively(L"0", empty, remove), failure);
  EXPECT_TRUE(removed == kDepth + 1 && children_first);
}

}  // namespace
}  // namespace korvanta::platform
