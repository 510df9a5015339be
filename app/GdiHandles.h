// Owning wrappers for the GDI handles the window makes, so each one is freed exactly once on
// every path.
#pragma once
#include <windows.h>

#include <utility>

// A font made by the window. The stock GUI font stands in when the system's font can't be
// read; it belongs to the system and is never deleted.
class OwnedFont {
public:
  OwnedFont() = default;
  explicit OwnedFont(HFONT font) : font_(font) {}
  ~OwnedFont() { Free(); }
  OwnedFont(OwnedFont&& other) noexcept : font_(std::exchange(other.font_, nullptr)) {}
  OwnedFont& operator=(OwnedFont&& other) noexcept {
    if (this != &other) {
      Free();
      font_ = std::exchange(other.font_, nullptr);
    }
    return *this;
  }
  OwnedFont(const OwnedFont&) = delete;
  OwnedFont& operator=(const OwnedFont&) = delete;

  HFONT Get() const { return font_; }
  void Reset() {
    Free();
    font_ = nullptr;
  }

private:
  void Free() {
    if (font_ && font_ != GetStockObject(DEFAULT_GUI_FONT)) DeleteObject(font_);
  }

  HFONT font_ = nullptr;
};

// A window's device context (the screen's for nullptr), released when it goes out of scope.
class WindowDC {
public:
  explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDC() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;

  HDC Get() const { return dc_; }

private:
  HWND window_;
  HDC dc_;
};
