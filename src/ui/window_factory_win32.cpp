#include <memory>
#include <utility>

#include "ui/progress_status.h"
#include "ui/progress_window.h"

namespace korvanta {

ProgressStatus preview_status() {
  ProgressStatus status;
  status.badge = L"DOWNLOADING";
  status.title = L"Downloading update files";
  status.detail = L"game\\pc\\sds\\city\\city_universe.sds   /   72.4 MiB of 106.0 MiB";
  status.done = 724;
  status.total = 1060;
  status.preview = true;
  return status;
}

WindowFactory default_window_factory() {
  return [](std::wstring window_title, std::wstring product_name, bool allow_user_close) {
    return std::unique_ptr<StatusWindow>(
        std::make_unique<ProgressWindow>(std::move(window_title), std::move(product_name), allow_user_close));
  };
}

int run_preview(const std::wstring& product_name) {
  // The caption keeps the name as given, even empty (" Updater - UI
  // Preview"); the heading falls back to the default product name.
  ProgressWindow window(product_name + std::wstring(kPreviewCaptionSuffix), product_name, true);
  window.show_status(preview_status());
  // No time limit: the preview ends when the user closes it. A window that
  // could not be created ends at once.
  window.wait_until_closed();
  return 0;
}

}  // namespace korvanta
