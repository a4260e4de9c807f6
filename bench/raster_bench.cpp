// Speed of the raster device's common transfers on 4096 x 4096 32-bit
// surfaces, each against memset (fills) or memcpy (the others) of the same
// number of bytes. One line per operation:
//   bench NAME mpix_per_s=X ratio=Y
// where ratio is the operation's speed over the reference's.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "bleedborder/platform/gdi.h"

using namespace bleedborder;

namespace {

using namespace gdi;
using Clock = std::chrono::steady_clock;

constexpr int kSide = 4096;
constexpr int kRepeats = 5;

// The best of kRepeats runs of the operation and of its reference, taken in
// turns so that a busy machine slows both alike.
struct Timing {
  double operation = 1e30;
  double reference = 1e30;
};

double Seconds(const std::function<void()>& run) {
  const auto start = Clock::now();
  run();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

Timing Measure(const std::function<void()>& operation, const std::function<void()>& reference) {
  Timing best;
  for (int i = 0; i < kRepeats; ++i) {
    best.reference = std::min(best.reference, Seconds(reference));
    best.operation = std::min(best.operation, Seconds(operation));
  }
  return best;
}

struct Surface {
  HBITMAP bitmap;
  HDC dc;
  HGDIOBJ previous;
  std::uint32_t* bits = nullptr;

  Surface(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* memory = nullptr;
    bitmap = CreateDIBSection(HDC{}, &info, DIB_RGB_COLORS, &memory, sys::HANDLE{0}, 0);
    bits = static_cast<std::uint32_t*>(memory);
    dc = CreateCompatibleDC(HDC{});
    previous = SelectObject(dc, bitmap);
  }
  explicit Surface(HBITMAP device) : bitmap(device) {
    dc = CreateCompatibleDC(HDC{});
    previous = SelectObject(dc, bitmap);
  }
  ~Surface() {
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
};

void Report(const char* name, double pixels, const Timing& t) {
  std::printf("bench %s mpix_per_s=%.1f ratio=%.2f\n", name, pixels / t.operation / 1e6, t.reference / t.operation);
}

}  // namespace

int main() {
  const std::size_t pixels = std::size_t{kSide} * kSide;
  const std::size_t bytes = pixels * 4;
  Surface source(kSide, kSide), dest(kSide, kSide);
  if (!source.bits || !dest.bits) {
    std::fprintf(stderr, "cannot make the surfaces\n");
    return 1;
  }
  std::mt19937 random(1);
  for (std::size_t i = 0; i < pixels; ++i) source.bits[i] = (random() & 1) ? 0xFFFFFF : static_cast<std::uint32_t>(random());
  std::vector<std::uint8_t> scratch(bytes);

  const auto memsetOf = [&](std::size_t n) { return [&, n] { std::memset(dest.bits, static_cast<int>(random() & 0xFF), n); }; };
  const auto memcpyOf = [&](std::size_t n) { return [&, n] { std::memcpy(scratch.data(), source.bits, n); }; };

  // Fill with a solid brush.
  LOGBRUSH logBrush{BS_SOLID, RGB(10, 20, 30), 0};
  const HBRUSH brush = CreateBrushIndirect(&logBrush);
  const RECT all{0, 0, kSide, kSide};
  Report("fill", static_cast<double>(pixels), Measure([&] { FillRect(dest.dc, &all, brush); }, memsetOf(bytes)));

  // Plain copy.
  Report("copy", static_cast<double>(pixels),
         Measure([&] { BitBlt(dest.dc, 0, 0, kSide, kSide, source.dc, 0, 0, SRCCOPY); }, memcpyOf(bytes)));

  // Stretches. Enlarging takes the pixel under each centre in every mode
  // (the nearest stretch); shrinking keeps the centre pixel under
  // COLORONCOLOR and combines blocks under the other modes.
  const struct {
    const char* name;
    int mode;
  } modes[] = {{"blackonwhite", BLACKONWHITE}, {"whiteonblack", WHITEONBLACK}, {"coloroncolor", COLORONCOLOR},
               {"halftone", HALFTONE}};
  char name[64];
  for (const auto& mode : modes) {
    SetStretchBltMode(dest.dc, mode.mode);
    std::snprintf(name, sizeof name, "stretch_enlarge_%s", mode.name);
    Report(name, static_cast<double>(pixels), Measure([&] {
             StretchBlt(dest.dc, 0, 0, kSide, kSide, source.dc, 0, 0, kSide / 2 + 1, kSide / 2 + 3, SRCCOPY);
           }, memcpyOf(bytes)));
  }
  const int shrunk = kSide * 3 / 4;
  const std::size_t shrunkPixels = std::size_t{static_cast<std::size_t>(shrunk)} * static_cast<std::size_t>(shrunk);
  for (const auto& mode : modes) {
    SetStretchBltMode(dest.dc, mode.mode);
    std::snprintf(name, sizeof name, "stretch_shrink_%s", mode.name);
    Report(name, static_cast<double>(shrunkPixels),
           Measure([&] { StretchBlt(dest.dc, 0, 0, shrunk, shrunk, source.dc, 0, 0, kSide, kSide, SRCCOPY); },
                   memcpyOf(shrunkPixels * 4)));
  }

  // Colour to monochrome: the mask of the white pixels.
  Surface mono(CreateBitmap(kSide, kSide, 1, 1, nullptr));
  SetBkColor(source.dc, RGB(255, 255, 255));
  Report("color_to_mono", static_cast<double>(pixels),
         Measure([&] { BitBlt(mono.dc, 0, 0, kSide, kSide, source.dc, 0, 0, SRCCOPY); }, memcpyOf(bytes)));

  // Masked copy through that mask: white pixels keep the destination.
  Report("masked_copy", static_cast<double>(pixels),
         Measure([&] { MaskBlt(dest.dc, 0, 0, kSide, kSide, source.dc, 0, 0, mono.bitmap, 0, 0, 0xCCAA0029); },
                 memcpyOf(bytes)));
  DeleteObject(brush);
  return 0;
}
