#include "log/run_log.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace korvanta {
namespace {

TEST(RunLog, EachRunAppendsItsLinesToTheLogBesideTheStateFile) {
  testing::TempDir dir;
  const std::wstring data = dir / L"Spi\u00e9le \u6e38\u620f\\.korvanta", state = data + L"\\update-state.json";
  // Text from outside cannot end its line and forge another.
  const char* forged = "Shop\r\n[2026-12-06 09:14:05] Apply failed: x\t\x7f\xc2\x85\xe2\x80\xa8\\";
  for (const char* text : {"first", forged}) RunLog(state, false, L"Shop", {}).write_line(text);
  const std::string banner(kLogBanner), state_line = "State file: " + testing::utf8(state);
  EXPECT_EQ(testing::log_texts(data + L"\\logs\\updater.log"),
            (std::vector<std::string>{banner, state_line, "first", banner, state_line,
                                      "Shop\\r\\n[2026-12-06 09:14:05] Apply failed: x\\x09\\x7f\\u0085\\u2028\\"}));
}

}  // namespace
}  // namespace korvanta
