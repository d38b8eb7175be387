#pragma once
// The updater's command line.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/progress_status.h"

namespace korvanta {

struct UpdaterOptions {
  std::wstring state_path;                 // "--state"
  std::uint32_t parent_pid = 0;            // "--parent-pid"; 0: nothing to wait for
  bool show_ui = false;                    // "--show-ui"
  bool preview = false;                    // "--dry-run" or "--preview-ui"
  std::wstring product_name{kDefaultProductName};  // "--product-name"
  std::wstring restart_path;               // "--restart"; empty: no restart
  std::vector<std::wstring> restart_args;  // everything after "--"
};

// Reads arguments 1..argc-1 (argument 0, the program, is never looked at).
// Names match whole and case-sensitively; a value option takes the next
// argument blindly; the last occurrence wins; "--" ends option parsing and
// hands every later argument to restart_args; anything else is ignored.
// Returns nothing when a "--parent-pid" value cannot be read.
std::optional<UpdaterOptions> parse_options(int argc, const wchar_t* const* argv);

// A process id read as the C runtime's wcstoul reads base 10 into 32 bits:
// leading white space, one optional sign (minus negates modulo 2^32), then
// decimal digits up to the first other character. Nothing when there is no
// digit or the number exceeds 4294967295.
std::optional<std::uint32_t> read_process_id(std::wstring_view text);

}  // namespace korvanta
