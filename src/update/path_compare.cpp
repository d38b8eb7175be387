#include "update/path_compare.h"

#include <algorithm>

#include "platform/full_path.h"
#include "platform/path_text.h"

namespace korvanta {
namespace {

// Only A-Z: the runtime's wide lower-casing in the default "C" locale changes
// nothing else, and a path that differs in a non-ASCII letter is another path.
wchar_t lower_ascii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

void lower_ascii_in_place(std::wstring& text) { std::transform(text.begin(), text.end(), text.begin(), lower_ascii); }

}  // namespace

std::wstring compare_form(const std::wstring& path) { return compare_form_of_absolute(platform::full_path(path)); }

std::wstring compare_form_of_absolute(std::wstring_view absolute_path) {
  std::wstring form = platform::path_text::lexically_normal(absolute_path);
  std::replace(form.begin(), form.end(), L'/', L'\\');
  while (form.size() > 3 && form.back() == L'\\') form.pop_back();
  lower_ascii_in_place(form);
  return form;
}

bool paths_equal(const std::wstring& a, const std::wstring& b) { return compare_form(a) == compare_form(b); }

bool is_within(const std::wstring& root, const std::wstring& candidate) {
  const std::wstring r = compare_form(root);
  const std::wstring c = compare_form(candidate);
  // A root that cannot be made absolute contains nothing.
  if (r.empty()) return false;
  if (c == r) return true;
  // A drive root keeps its backslash ("d:\"), so what lies below it follows
  // that backslash directly; any other root needs one added.
  if (r.back() == L'\\') return c.size() > r.size() && c.compare(0, r.size(), r) == 0;
  return c.size() > r.size() + 1 && c.compare(0, r.size(), r) == 0 && c[r.size()] == L'\\';
}

bool file_name_is(const std::wstring& path, std::wstring_view expected_lower) {
  std::wstring name = platform::path_text::file_name(path);
  lower_ascii_in_place(name);
  return name == expected_lower;
}

}  // namespace korvanta
