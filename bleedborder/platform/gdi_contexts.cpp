// The screen context, memory contexts and the state a context keeps.
#include <mutex>

#include "bleedborder/platform/gdi.h"
#include "bleedborder/platform/gdi_device.h"

namespace bleedborder::gdi {

using namespace detail;

// ---- Screen and contexts ---------------------------------------------------

HDC GetDC(HWND) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  DcObject* screen = device.Find<DcObject>(device.Screen());
  ++screen->users;
  return HDC{device.Screen()};
}

int ReleaseDC(HWND, HDC dc) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  DcObject* screen = device.Find<DcObject>(dc.value);
  if (!screen || !screen->screen || screen->users == 0) return 0;
  // The last release puts the shared context back in its default state.
  if (--screen->users == 0) {
    ReleaseSelections(device, screen->state);
    screen->state = device.DefaultState();
    screen->state.bitmap = 0;
    RetainSelections(device, screen->state);
  }
  return 1;
}

int GetDeviceCaps(HDC dc, int index) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (!device.Find<DcObject>(dc.value)) return 0;
  switch (index) {
    case BITSPIXEL: return 32;
    case PLANES: return 1;
    case NUMCOLORS: return -1;
    case LOGPIXELSX:
    case LOGPIXELSY: return 96;
    case SIZEPALETTE: return 0;
    default: return 0;
  }
}

HDC CreateCompatibleDC(HDC dc) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (dc && !device.Find<DcObject>(dc.value)) return Fail<HDC>(0);
  auto context = std::make_unique<DcObject>();
  context->state = device.DefaultState();
  RetainSelections(device, context->state);
  return HDC{device.Add(std::move(context))};
}

BOOL DeleteDC(HDC dc) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  DcObject* context = device.Find<DcObject>(dc.value);
  if (!context || context->screen) return FALSE;
  ReleaseSelections(device, context->state);
  device.Remove(dc.value);
  return TRUE;
}

// ---- State ---------------------------------------------------------------

namespace {

// Runs change on the state of a valid context; fallback otherwise.
template <class R, class F>
R WithState(HDC dc, R fallback, F change) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  DcObject* context = device.Find<DcObject>(dc.value);
  return context ? change(context->state) : fallback;
}

template <class T>
T Exchange(T& field, T value) {
  const T old = field;
  field = value;
  return old;
}

}  // namespace

int SetStretchBltMode(HDC dc, int mode) {
  if (mode < BLACKONWHITE || mode > HALFTONE) return 0;
  return WithState(dc, 0, [mode](DcState& s) { return Exchange(s.stretchMode, mode); });
}
int GetStretchBltMode(HDC dc) {
  return WithState(dc, 0, [](DcState& s) { return s.stretchMode; });
}
COLORREF SetTextColor(HDC dc, COLORREF color) {
  return WithState(dc, CLR_INVALID, [color](DcState& s) { return Exchange(s.text, color); });
}
COLORREF GetTextColor(HDC dc) {
  return WithState(dc, CLR_INVALID, [](DcState& s) { return s.text; });
}
COLORREF SetBkColor(HDC dc, COLORREF color) {
  return WithState(dc, CLR_INVALID, [color](DcState& s) { return Exchange(s.background, color); });
}
COLORREF GetBkColor(HDC dc) {
  return WithState(dc, CLR_INVALID, [](DcState& s) { return s.background; });
}
int SetBkMode(HDC dc, int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) return 0;
  return WithState(dc, 0, [mode](DcState& s) { return Exchange(s.bkMode, mode); });
}
int GetBkMode(HDC dc) {
  return WithState(dc, 0, [](DcState& s) { return s.bkMode; });
}
int SetROP2(HDC dc, int mode) {
  if (mode < R2_BLACK || mode > R2_WHITE) return 0;
  return WithState(dc, 0, [mode](DcState& s) { return Exchange(s.rop2, mode); });
}
int GetROP2(HDC dc) {
  return WithState(dc, 0, [](DcState& s) { return s.rop2; });
}
BOOL GetBrushOrgEx(HDC dc, POINT* point) {
  return WithState(dc, FALSE, [point](DcState& s) {
    if (!point) return FALSE;
    *point = s.brushOrigin;
    return TRUE;
  });
}
BOOL SetBrushOrgEx(HDC dc, int x, int y, POINT* previous) {
  return WithState(dc, FALSE, [=](DcState& s) {
    if (previous) *previous = s.brushOrigin;
    s.brushOrigin = {x, y};
    return TRUE;
  });
}
BOOL MoveToEx(HDC dc, int x, int y, POINT* previous) {
  return WithState(dc, FALSE, [=](DcState& s) {
    if (previous) *previous = s.position;
    s.position = {x, y};
    return TRUE;
  });
}
BOOL GetCurrentPositionEx(HDC dc, POINT* point) {
  return WithState(dc, FALSE, [point](DcState& s) {
    if (!point) return FALSE;
    *point = s.position;
    return TRUE;
  });
}
HGDIOBJ GetCurrentObject(HDC dc, ObjectKind kind) {
  return WithState(dc, HGDIOBJ{}, [kind](DcState& s) {
    HGDIOBJ h;
    switch (kind) {
      case ObjectKind::Bitmap: h.value = s.bitmap; break;
      case ObjectKind::Palette: h.value = s.palette; break;
      case ObjectKind::Pen: h.value = s.pen; break;
      case ObjectKind::Brush: h.value = s.brush; break;
      case ObjectKind::Font: h.value = s.font; break;
      default: break;
    }
    return h;
  });
}

}  // namespace bleedborder::gdi
