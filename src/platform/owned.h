// Owned<T, kNone, Close>: a move-only owner of one OS handle of type T, with
// kNone its explicit "no handle" value. The destructor, reset and
// move-assignment hand a held handle (anything but kNone) to Close, so every
// early return releases what was taken.
#pragma once

#include <utility>

template <class T, T kNone, auto Close>
class Owned {
 public:
  Owned() = default;
  explicit Owned(T h) : h_(h) {}
  ~Owned() { reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& o) noexcept : h_(o.release()) {}
  Owned& operator=(Owned&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }

  T get() const { return h_; }
  bool valid() const { return h_ != kNone; }
  explicit operator bool() const { return valid(); }
  // Gives the handle up without closing it.
  T release() { return std::exchange(h_, kNone); }
  // Closes the held handle and takes h.
  void reset(T h = kNone) {
    if (valid()) Close(h_);
    h_ = h;
  }
  // For functions that return a handle through a pointer: closes the held one first.
  T* out() {
    reset();
    return &h_;
  }

 private:
  T h_ = kNone;
};
