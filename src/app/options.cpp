#include "app/options.h"

namespace korvanta {
namespace {

bool is_c_space(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

}  // namespace

std::optional<std::uint32_t> read_process_id(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_c_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  const std::size_t first_digit = i;
  std::uint64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + static_cast<std::uint64_t>(text[i] - L'0');
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  if (i == first_digit) return std::nullopt;
  const auto result = static_cast<std::uint32_t>(value);
  return negative ? static_cast<std::uint32_t>(0u - result) : result;
}

std::optional<UpdaterOptions> parse_options(int argc, const wchar_t* const* argv) {
  UpdaterOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view arg = argv[i] != nullptr ? argv[i] : L"";
    const bool has_value = i + 1 < argc && argv[i + 1] != nullptr;
    if (arg == L"--state") {
      if (has_value) options.state_path = argv[++i];
    } else if (arg == L"--parent-pid") {
      if (has_value) {
        const auto pid = read_process_id(argv[++i]);
        if (!pid) return std::nullopt;
        options.parent_pid = *pid;
      }
    } else if (arg == L"--show-ui") {
      options.show_ui = true;
    } else if (arg == L"--dry-run" || arg == L"--preview-ui") {
      options.preview = true;
    } else if (arg == L"--product-name") {
      if (has_value) options.product_name = argv[++i];
    } else if (arg == L"--restart") {
      if (has_value) options.restart_path = argv[++i];
    } else if (arg == L"--") {
      for (++i; i < argc; ++i) options.restart_args.emplace_back(argv[i] != nullptr ? argv[i] : L"");
    }
  }
  return options;
}

}  // namespace korvanta
