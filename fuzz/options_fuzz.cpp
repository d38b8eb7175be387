// The option parser on arbitrary argument lists, against a plain model of its
// rules: names match whole, a value option takes the next argument whatever
// it is, the last occurrence wins, flags stay set, "--" hands everything after
// it to the restart arguments, and a "--parent-pid" value is read as the
// C runtime reads an unsigned long of 32 bits.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "app/options.h"
#include "platform/text.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

const wchar_t* const kTokens[] = {L"--state", L"--parent-pid", L"--show-ui", L"--dry-run", L"--preview-ui",
                                  L"--product-name", L"--restart", L"--", L"", L"0", L"-1", L"4294967295"};
constexpr std::size_t kTokenCount = sizeof kTokens / sizeof kTokens[0];
constexpr std::uint8_t kNextArgument = 0xFF;

// Arguments separated by 0xFF; an argument of one byte below kTokenCount is
// that token, any other is its bytes read as UTF-8.
std::vector<std::wstring> arguments_from(const std::uint8_t* data, std::size_t size) {
  std::vector<std::wstring> args;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= size; ++i) {
    if (i < size && data[i] != kNextArgument) continue;
    const std::string bytes(reinterpret_cast<const char*>(data) + start, i - start);
    if (bytes.size() == 1 && static_cast<std::uint8_t>(bytes[0]) < kTokenCount) {
      args.emplace_back(kTokens[static_cast<std::uint8_t>(bytes[0])]);
    } else {
      std::wstring text = korvanta::platform::utf8_to_wide(bytes);
      std::erase(text, L'\0');  // arguments are C strings
      args.push_back(std::move(text));
    }
    start = i + 1;
  }
  return args;
}

bool is_ascii(const std::wstring& text) {
  for (const wchar_t c : text)
    if (c < 0 || c > 0x7F) return false;
  return true;
}

// What the C runtime's wcstoul gives for a 32-bit unsigned long in base 10,
// by way of the host's (wider) wcstoul: nothing without a digit or beyond 32
// bits; a minus sign negates modulo 2^32.
std::optional<std::uint32_t> model_process_id(const std::wstring& text) {
  const wchar_t* begin = text.c_str();
  wchar_t* end = nullptr;
  errno = 0;
  const unsigned long long value = std::wcstoull(begin, &end, 10);
  if (end == begin || errno == ERANGE) return std::nullopt;
  const wchar_t* p = begin;
  while (*p == L' ' || (*p >= L'\t' && *p <= L'\r')) ++p;
  const bool negative = *p == L'-';
  const unsigned long long magnitude = negative ? 0ull - value : value;
  if (magnitude > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<std::uint32_t>(negative ? 0ull - magnitude : magnitude);
}

struct Model {
  korvanta::UpdaterOptions options;
  bool refused = false;  // an unreadable "--parent-pid" value
  bool unknown = false;  // a pid value outside ASCII: only the absence of a crash is checked
};

Model model(const std::vector<std::wstring>& args) {
  Model m;
  auto& o = m.options;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    const bool value = i + 1 < args.size();
    if (a == L"--") {
      o.restart_args.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    if (a == L"--show-ui") o.show_ui = true;
    if (a == L"--dry-run" || a == L"--preview-ui") o.preview = true;
    if (!value) continue;
    if (a == L"--state") o.state_path = args[++i];
    else if (a == L"--product-name") o.product_name = args[++i];
    else if (a == L"--restart") o.restart_path = args[++i];
    else if (a == L"--parent-pid") {
      const std::wstring& text = args[++i];
      if (!is_ascii(text)) {
        m.unknown = true;
        return m;
      }
      const auto pid = model_process_id(text);
      if (!pid) {
        m.refused = true;
        return m;
      }
      o.parent_pid = *pid;
    }
  }
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::wstring> args = arguments_from(data, size);
  if (args.empty()) args.emplace_back();
  std::vector<const wchar_t*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());

  const auto parsed = korvanta::parse_options(static_cast<int>(argv.size()), argv.data());
  const Model expected = model(args);
  if (expected.unknown) return 0;
  check(parsed.has_value() != expected.refused);
  if (!parsed) return 0;
  const auto& o = *parsed;
  const auto& e = expected.options;
  check(o.state_path == e.state_path);
  check(o.parent_pid == e.parent_pid);
  check(o.show_ui == e.show_ui);
  check(o.preview == e.preview);
  check(o.product_name == e.product_name);
  check(o.restart_path == e.restart_path);
  check(o.restart_args == e.restart_args);
  return 0;
}
