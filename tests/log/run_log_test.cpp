#include "log/run_log.h"

#include <gtest/gtest.h>

#include <regex>

#include "platform/text.h"
#include "support/temp_dir.h"

namespace korvanta {
namespace {

const WindowFactory kNoWindow = [](std::wstring, std::wstring, bool) { return std::unique_ptr<StatusWindow>(); };

// The texts of a log's lines; fails the test on any byte outside the
// "[YYYY-MM-DD HH:MM:SS] text CR LF" form.
std::vector<std::string> line_texts(const std::string& text) {
  const std::regex line(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] ([^\r\n]*)\r\n)");
  std::vector<std::string> texts;
  std::size_t consumed = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) {
    EXPECT_EQ(static_cast<std::size_t>(it->position()), consumed) << "unexpected bytes between lines";
    consumed += static_cast<std::size_t>(it->length());
    texts.push_back((*it)[1]);
  }
  EXPECT_EQ(consumed, text.size()) << "unterminated last line";
  return texts;
}

TEST(RunLog, CreatesItsDirectoriesAndWritesTimestampedCrLfLines) {
  testing::TempDir dir;
  const std::wstring state = dir / L"inst\\.korvanta\\update-state.json";
  {
    RunLog run_log(state, false, L"Shop", kNoWindow);
    run_log.write_line("first");
    run_log.set_status(L"BADGE", L"", L"detail");
  }
  EXPECT_EQ(line_texts(testing::read_file(dir / L"inst\\.korvanta\\logs\\updater.log")),
            (std::vector<std::string>{"----- Korvanta updater started -----",
                                      "State file: " + platform::wide_to_utf8(state), "first", ""}));
}

TEST(RunLog, AppendsAfterAnEarlierRun) {
  testing::TempDir dir;
  const std::wstring state = dir / L".korvanta\\update-state.json";
  const std::wstring log = dir / L".korvanta\\logs\\updater.log";
  { RunLog first(state, false, L"Shop", kNoWindow); }
  const std::string after_first = testing::read_file(log);
  { RunLog second(state, false, L"Shop", kNoWindow); }
  const std::string after_second = testing::read_file(log);
  ASSERT_EQ(after_second.rfind(after_first, 0), 0u);
  EXPECT_EQ(line_texts(after_second).size(), 4u);
}

TEST(RunLog, NonAsciiStatePathAndTitlesAreUtf8) {
  testing::TempDir dir;
  const std::wstring state = dir / L"Spi\u00e9le \u0418\u0433\u0440\u044b \u6e38\u620f \U0001F3AE\\.korvanta\\update-state.json";
  {
    RunLog run_log(state, false, L"x", kNoWindow);
    run_log.set_status(L"", L"Restarting \u0160koda \u6e38\u620f", L"");
  }
  const auto texts = line_texts(testing::read_file(dir / L"Spi\u00e9le \u0418\u0433\u0440\u044b \u6e38\u620f \U0001F3AE\\.korvanta\\logs\\updater.log"));
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[1], "State file: " + platform::wide_to_utf8(state));
  EXPECT_NE(texts[1].find("Spi\xC3\xA9le \xD0\x98\xD0\xB3\xD1\x80\xD1\x8B \xE6\xB8\xB8\xE6\x88\x8F \xF0\x9F\x8E\xAE"),
            std::string::npos);
  EXPECT_EQ(texts[2], "Restarting \xC5\xA0koda \xE6\xB8\xB8\xE6\x88\x8F");
}

TEST(RunLog, AnUnwritableLocationDropsEveryLineAndChangesNothing) {
  testing::TempDir dir;
  // A file where the logs directory should be: neither the directory nor the
  // log can be made, whoever runs the test.
  testing::write_file(dir / L".korvanta\\logs", "in the way");
  {
    RunLog run_log(dir / L".korvanta\\update-state.json", false, L"Shop", kNoWindow);
    run_log.write_line("dropped");
    run_log.set_status(L"B", L"T", L"D");
  }
  EXPECT_EQ(testing::read_file(dir / L".korvanta\\logs"), "in the way");
}

TEST(RunLog, StatusGoesToTheWindowUnchangedAfterTheLine) {
  struct Recorder : StatusWindow {
    void show_status(ProgressStatus status) override { shown->push_back(std::move(status)); }
    std::vector<ProgressStatus>* shown;
  };
  std::vector<ProgressStatus> shown;
  std::wstring caption, product;
  bool user_close = true;
  const WindowFactory factory = [&](std::wstring c, std::wstring p, bool allow) {
    caption = c;
    product = p;
    user_close = allow;
    auto window = std::make_unique<Recorder>();
    window->shown = &shown;
    return std::unique_ptr<StatusWindow>(std::move(window));
  };
  testing::TempDir dir;
  {
    RunLog without(dir / L"a\\update-state.json", false, L"Shop", factory);
    EXPECT_FALSE(without.has_window());
  }
  RunLog run_log(dir / L"b\\update-state.json", true, L"", factory);
  ASSERT_TRUE(run_log.has_window());
  EXPECT_EQ(caption, L" Updater");
  EXPECT_EQ(product, L"");
  EXPECT_FALSE(user_close);
  run_log.set_status(L"WAITING", L"Title", L"Detail");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].badge, L"WAITING");
  EXPECT_EQ(shown[0].title, L"Title");
  EXPECT_EQ(shown[0].detail, L"Detail");
  EXPECT_EQ(shown[0].done, 0u);
  EXPECT_EQ(shown[0].total, 0u);
  EXPECT_FALSE(shown[0].preview);
}

TEST(RunLog, LogGoesBesideTheStateFile) {
  EXPECT_EQ(log_path_for(L"D:\\Games\\Shop\\.korvanta\\update-state.json"),
            L"D:\\Games\\Shop\\.korvanta\\logs\\updater.log");
  EXPECT_EQ(log_path_for(L"update-state.json"), L"logs\\updater.log");
  EXPECT_EQ(log_path_for(L"D:/Games/update-state.json"), L"D:/Games\\logs\\updater.log");
  EXPECT_EQ(log_path_for(L"D:\\update-state.json"), L"D:\\logs\\updater.log");
}

TEST(RunLog, TimestampHasTheFixedForm) {
  EXPECT_TRUE(std::regex_match(format_timestamp(), std::regex(R"(\d{4}-(0[1-9]|1[0-2])-\d{2} ([01]\d|2[0-3]):[0-5]\d:[0-5]\d)")));
}

}  // namespace
}  // namespace korvanta
