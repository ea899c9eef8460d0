// Move-only owners for the GDI and USER handles the program creates, so no
// handle outlives the object that made it.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

struct DeleteGdiObject {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
struct DestroyIconHandle {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};

struct DestroyMenuHandle {
    void operator()(HMENU menu) const { DestroyMenu(menu); }
};
struct DeleteMemoryDc {
    void operator()(HDC dc) const { DeleteDC(dc); }
};

using ScopedFont = std::unique_ptr<std::remove_pointer_t<HFONT>, DeleteGdiObject>;
using ScopedBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, DeleteGdiObject>;
using ScopedIcon = std::unique_ptr<std::remove_pointer_t<HICON>, DestroyIconHandle>;
using ScopedMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, DestroyMenuHandle>;
using ScopedMemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, DeleteMemoryDc>;

// Puts an object into a DC for one scope and puts the old one back.
class ScopedSelect {
  public:
    ScopedSelect(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    ~ScopedSelect() { SelectObject(dc_, old_); }
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;

  private:
    HDC dc_;
    HGDIOBJ old_;
};

class ScopedPaint {
  public:
    explicit ScopedPaint(HWND window) : window_(window) { dc_ = BeginPaint(window, &ps_); }
    ~ScopedPaint() { EndPaint(window_, &ps_); }
    ScopedPaint(const ScopedPaint&) = delete;
    ScopedPaint& operator=(const ScopedPaint&) = delete;
    HDC dc() const { return dc_; }

  private:
    HWND window_;
    PAINTSTRUCT ps_{};
    HDC dc_;
};

// A screen DC for measuring text, released with the scope.
class ScopedScreenDc {
  public:
    ScopedScreenDc() : dc_(GetDC(nullptr)) {}
    ~ScopedScreenDc() { ReleaseDC(nullptr, dc_); }
    ScopedScreenDc(const ScopedScreenDc&) = delete;
    ScopedScreenDc& operator=(const ScopedScreenDc&) = delete;
    HDC dc() const { return dc_; }

  private:
    HDC dc_;
};

// Height of one line of text in a font: the pitch of the report's lines.
inline int FontCellHeight(HFONT font) {
    ScopedScreenDc screen;
    ScopedSelect select(screen.dc(), font);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(screen.dc(), &metrics);
    return metrics.tmHeight;
}

inline ScopedIcon LoadAppIcon(HINSTANCE instance, int resourceId, int size) {
    return ScopedIcon(static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(resourceId), IMAGE_ICON, size, size, 0)));
}
