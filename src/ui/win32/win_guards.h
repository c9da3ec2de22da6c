// Small move-only owners of Win32 handles and GDI state, so every early
// return releases what was taken.
#pragma once

#include <windows.h>

#include <utility>

// A GDI object (brush, pen, font, bitmap) deleted with DeleteObject.
template <class T>
class ScopedGdi {
 public:
  ScopedGdi() = default;
  explicit ScopedGdi(T h) : h_(h) {}
  ~ScopedGdi() { reset(); }
  ScopedGdi(const ScopedGdi&) = delete;
  ScopedGdi& operator=(const ScopedGdi&) = delete;
  ScopedGdi(ScopedGdi&& o) noexcept : h_(o.release()) {}
  ScopedGdi& operator=(ScopedGdi&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = o.release();
    }
    return *this;
  }
  T get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  T release() { return std::exchange(h_, nullptr); }
  void reset(T h = nullptr) {
    if (h_) DeleteObject(h_);
    h_ = h;
  }

 private:
  T h_ = nullptr;
};

// Selects an object into a DC and puts the previous one back on destruction.
// Fills rc with a temporary solid brush of colour.
inline void FillSolid(HDC dc, const RECT& rc, COLORREF colour) {
  ScopedGdi<HBRUSH> brush(CreateSolidBrush(colour));
  FillRect(dc, &rc, brush.get());
}

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

// A memory DC from CreateCompatibleDC.
class ScopedMemDC {
 public:
  explicit ScopedMemDC(HDC like) : dc_(CreateCompatibleDC(like)) {}
  ~ScopedMemDC() {
    if (dc_) DeleteDC(dc_);
  }
  ScopedMemDC(const ScopedMemDC&) = delete;
  ScopedMemDC& operator=(const ScopedMemDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
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

// A kernel handle; both NULL and INVALID_HANDLE_VALUE count as "none".
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE h) : h_(h) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& o) noexcept : h_(o.release()) {}
  ScopedHandle& operator=(ScopedHandle&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = o.release();
    }
    return *this;
  }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  HANDLE release() { return std::exchange(h_, nullptr); }
  void reset(HANDLE h = nullptr) {
    if (valid()) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

// A registry key from RegCreateKeyExW.
class ScopedRegKey {
 public:
  ScopedRegKey() = default;
  ~ScopedRegKey() {
    if (h_) RegCloseKey(h_);
  }
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;
  HKEY* out() { return &h_; }
  HKEY get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HKEY h_ = nullptr;
};

// A popup menu from CreatePopupMenu.
class ScopedMenu {
 public:
  ScopedMenu() : h_(CreatePopupMenu()) {}
  ~ScopedMenu() {
    if (h_) DestroyMenu(h_);
  }
  ScopedMenu(const ScopedMenu&) = delete;
  ScopedMenu& operator=(const ScopedMenu&) = delete;
  HMENU get() const { return h_; }

 private:
  HMENU h_;
};
