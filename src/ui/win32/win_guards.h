// Owners of Win32 handles and GDI state, so every early return releases what
// was taken.
#pragma once

#include <windows.h>

#include "platform/owned.h"

// A GDI object (brush, pen, font, bitmap) deleted with DeleteObject.
template <class T>
using ScopedGdi = Owned<T, static_cast<T>(nullptr), DeleteObject>;
// A memory DC from CreateCompatibleDC.
using ScopedMemDC = Owned<HDC, static_cast<HDC>(nullptr), DeleteDC>;
// A registry key from RegCreateKeyExW.
using ScopedRegKey = Owned<HKEY, static_cast<HKEY>(nullptr), RegCloseKey>;
// A popup menu from CreatePopupMenu.
using ScopedMenu = Owned<HMENU, static_cast<HMENU>(nullptr), DestroyMenu>;
// A kernel object handle (mutex, event) closed with CloseHandle.
using ScopedHandle = Owned<HANDLE, static_cast<HANDLE>(nullptr), CloseHandle>;

// Fills rc with a temporary solid brush of colour.
inline void FillSolid(HDC dc, const RECT& rc, COLORREF colour) {
  ScopedGdi<HBRUSH> brush(CreateSolidBrush(colour));
  FillRect(dc, &rc, brush.get());
}

// Selects an object into a DC and puts the previous one back on destruction.
class SelectGuard {
 public:
  SelectGuard(HDC dc, HGDIOBJ obj) : dc_(dc), old_(obj ? SelectObject(dc, obj) : nullptr) {}
  ~SelectGuard() {
    if (old_) SelectObject(dc_, old_);
  }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// BeginPaint / EndPaint.
class PaintScope {
 public:
  explicit PaintScope(HWND hwnd) : hwnd_(hwnd) { dc_ = BeginPaint(hwnd, &ps_); }
  ~PaintScope() { EndPaint(hwnd_, &ps_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  HDC dc() const { return dc_; }

 private:
  HWND hwnd_;
  PAINTSTRUCT ps_{};
  HDC dc_ = nullptr;
};
