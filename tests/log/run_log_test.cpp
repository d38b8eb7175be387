#include "log/run_log.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace korvanta {
namespace {

TEST(RunLog, EachRunAppendsItsLinesToTheLogBesideTheStateFile) {
  testing::TempDir dir;
  const std::wstring data = dir / L"Spi\u00e9le \u6e38\u620f\\.korvanta", state = data + L"\\update-state.json";
  for (const char* text : {"first", "second"}) RunLog(state, false, L"Shop", {}).write_line(text);
  const std::string banner(kLogBanner), state_line = "State file: " + testing::utf8(state);
  EXPECT_EQ(testing::log_texts(data + L"\\logs\\updater.log"),
            (std::vector<std::string>{banner, state_line, "first", banner, state_line, "second"}));
}

}  // namespace
}  // namespace korvanta
