// How long one frame of the progress window takes to draw, at 96 and 144
// DPI, against a plain FillRect of the same client area measured in the same
// run. A console program; run it under Wine or on Windows:
//   frame_bench [runs] [--pictures <directory>]
// With --pictures it also writes the preview frame at each DPI as
// preview-<dpi>.bmp into the directory.
// The window draws about 33 frames a second, so a frame far below 30 ms
// leaves the UI thread idle most of the time.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "ui/frame_win32.h"
#include "ui/gdi_win32.h"
#include "ui/layout.h"
#include "ui/progress_window.h"

namespace {

using korvanta::scale;

// The window's client area at 96 DPI; at other DPIs it is scaled as the
// window's content is.
constexpr int kClientWidth = korvanta::kContentWidth;
constexpr int kClientHeight = korvanta::kContentHeight;

struct Timing {
  double median_us;
  double mean_us;
};

Timing measure(int runs, const std::function<void()>& work) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  for (int i = 0; i < 20; ++i) work();  // warm-up: fonts, glyph caches
  std::vector<double> samples;
  samples.reserve(runs);
  for (int i = 0; i < runs; ++i) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    work();
    GdiFlush();
    QueryPerformanceCounter(&end);
    samples.push_back(static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart));
  }
  double sum = 0;
  for (double s : samples) sum += s;
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], sum / static_cast<double>(samples.size())};
}

// Writes the 32-bit bitmap selected in `dc` as a .bmp file.
bool save_bitmap(HDC dc, HBITMAP bitmap, int width, int height, const std::wstring& path) {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;  // bottom-up, as .bmp files store rows
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
  if (GetDIBits(dc, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS) == 0) {
    return false;
  }
  BITMAPFILEHEADER file{};
  file.bfType = 0x4d42;  // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
  std::FILE* out = _wfopen(path.c_str(), L"wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&header, sizeof header, 1, out) == 1 &&
                       std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
  return std::fclose(out) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace korvanta;
  int runs = 500;
  std::wstring pictures;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--pictures" && i + 1 < argc) {
      const std::string dir = argv[++i];
      pictures.assign(dir.begin(), dir.end());
    } else {
      runs = std::max(1, std::atoi(arg.c_str()));
    }
  }

  std::printf("progress window frame, %d runs each (microseconds: median / mean)\n\n", runs);
  std::printf("%4s  %9s  %19s  %19s  %19s  %19s  %9s\n", "dpi", "client", "FillRect (ref)", "frame, preview",
              "frame, moving bar", "paint (+DC,BitBlt)", "paint/ref");
  const HDC screen = GetDC(nullptr);
  for (const int dpi : {96, 144}) {
    const int width = scale(kClientWidth, dpi);
    const int height = scale(kClientHeight, dpi);
    const Fonts fonts = make_fonts(dpi);
    const ProgressStatus preview = preview_status();
    const ProgressStatus moving;
    std::uint32_t frame_counter = 0;

    // The window's target: a bitmap like the screen, drawn into through a
    // memory context, as paint's off-screen frame is.
    const gdi::MemoryDc target(screen);
    const gdi::Bitmap target_bitmap(CreateCompatibleBitmap(screen, width, height));
    const gdi::Selection target_selection(target.get(), target_bitmap.get());

    const Timing fill = measure(runs, [&] {
      const gdi::Brush brush = gdi::solid_brush(colours::kBackground);
      const RECT all{0, 0, width, height};
      FillRect(target.get(), &all, brush.get());
    });
    const Timing frame_preview = measure(runs, [&] {
      draw_frame(target.get(), width, height, dpi, ++frame_counter, L"Shop", preview, fonts);
    });
    const Timing frame_moving = measure(runs, [&] {
      draw_frame(target.get(), width, height, dpi, ++frame_counter, L"Shop", moving, fonts);
    });
    // What one WM_PAINT costs besides BeginPaint: off-screen context and
    // bitmap, the frame, the copy.
    const Timing paint = measure(runs, [&] {
      const gdi::MemoryDc memory(target.get());
      const gdi::Bitmap bitmap(CreateCompatibleBitmap(target.get(), width, height));
      const gdi::Selection selection(memory.get(), bitmap.get());
      draw_frame(memory.get(), width, height, dpi, ++frame_counter, L"Shop", moving, fonts);
      BitBlt(target.get(), 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
    });

    if (!pictures.empty()) {
      draw_frame(target.get(), width, height, dpi, 0, L"Shop", preview, fonts);
      const std::wstring path = pictures + L"\\preview-" + std::to_wstring(dpi) + L".bmp";
      if (!save_bitmap(target.get(), target_bitmap.get(), width, height, path)) {
        std::fprintf(stderr, "could not write %ls\n", path.c_str());
      }
    }

    char client[32];
    std::snprintf(client, sizeof client, "%dx%d", width, height);
    std::printf("%4d  %9s  %8.1f / %8.1f  %8.1f / %8.1f  %8.1f / %8.1f  %8.1f / %8.1f  %9.1f\n", dpi, client,
                fill.median_us, fill.mean_us, frame_preview.median_us, frame_preview.mean_us, frame_moving.median_us,
                frame_moving.mean_us, paint.median_us, paint.mean_us, paint.median_us / fill.median_us);
  }
  ReleaseDC(nullptr, screen);
  return 0;
}
