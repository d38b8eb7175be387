#include "update/update_plan.h"

#include <gtest/gtest.h>

#include <cctype>

#include "support/test_support.h"

namespace korvanta {

// Every text that differs from a file's digest in one digit, or in length,
// misses it; the same digits in capitals match.
TEST(AnnouncedDigest, MatchesItsOwnDigitsInEitherLetterCaseOnly) {
  const std::string digest = testing::sha256_of("x");
  std::string capitals = digest;
  for (char& c : capitals) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(AnnouncedDigest(capitals).matches(digest));
  for (std::size_t i = 0; i < digest.size(); ++i)
    for (char c : std::string("0123456789abcdefABCDEFg")) {
      std::string other = digest;
      other[i] = c;
      EXPECT_EQ(AnnouncedDigest(other).matches(digest), to_lower_ascii(other) == digest) << other;
    }
  for (const std::string& other : {digest + "0", digest.substr(1), std::string()})
    EXPECT_FALSE(AnnouncedDigest(other).matches(other.empty() ? other : digest)) << other;
}

}  // namespace korvanta
