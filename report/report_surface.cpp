#include "report/report_surface.h"

#include <iterator>

#include <windowsx.h>

#include "report/report_accessible.h"
#include "report/watermark.h"
#include "win32/clipboard.h"

namespace {

constexpr UINT kCopyCommand = 1;

kelvane::Rgb ToRgb(COLORREF colour) {
    return {GetRValue(colour), GetGValue(colour), GetBValue(colour)};
}

bool CtrlDown() {
    return GetKeyState(VK_CONTROL) < 0;
}

}  // namespace

bool ReportSurface::Register(HINSTANCE instance) {
    return RegisterOwnerClass<ReportSurface>(instance, kClassName);
}

HWND ReportSurface::Create(HWND parent, int id, HINSTANCE instance) {
    parent_ = parent;
    return CreateWindowExW(WS_EX_CLIENTEDGE, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0,
                           0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           instance, this);
}

// Until the form hands over its font, the stock GUI font stands in.
HFONT ReportSurface::Font() const {
    return font_ ? font_ : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

void ReportSurface::SetFont(HFONT font) {
    font_ = font;
    lineHeight_ = FontCellHeight(Font());
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void ReportSurface::SetIcon(HICON icon, int pixels) {
    icon_ = icon;
    iconSize_ = pixels;
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void ReportSurface::Clear() {
    lines_.clear();
    toneChannels_ = 0;
    PublishText();
    InvalidateRect(hwnd_, nullptr, TRUE);
    // The old report must be gone from the screen before anything modal
    // (the presence message box) takes over the message loop.
    UpdateWindow(hwnd_);
}

void ReportSurface::Print(const kelvane::PrintStatement& statement) {
    lines_.push_back(kelvane::RenderStatement(statement));
    PublishText();
    const int height = lineHeight_;
    const int top = static_cast<int>(lines_.size() - 1) * height;
    RECT band;
    GetClientRect(hwnd_, &band);
    band.top = top;
    band.bottom = top + height;
    InvalidateRect(hwnd_, &band, TRUE);
}

void ReportSurface::SetToneChannels(int channels) {
    toneChannels_ = channels;
}

std::u16string ReportSurface::ReportText() const {
    std::u16string text;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        text += (i == 0 ? u"" : u"\r\n") + lines_[i];
    }
    return text;
}

// A screen reader that follows the report hears of each change to it.
void ReportSurface::PublishText() {
    SetWindowTextW(hwnd_, reinterpret_cast<const wchar_t*>(ReportText().c_str()));
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, hwnd_, OBJID_CLIENT, CHILDID_SELF);
}

void ReportSurface::CopyReport() const {
    if (!lines_.empty()) {
        // A busy clipboard is given up on quietly: the user can simply try again.
        CopyTextToClipboard(hwnd_, ReportText());
    }
}

void ReportSurface::PaintContent(HDC dc) const {
    RECT client;
    GetClientRect(hwnd_, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    PaintWatermark(dc);
    ScopedSelect select(dc, Font());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    const int height = lineHeight_;
    int y = 0;
    for (const std::u16string& line : lines_) {
        TextOutW(dc, 0, y, reinterpret_cast<const wchar_t*>(line.c_str()),
                 static_cast<int>(line.size()));
        y += height;
    }
    PaintRunning(dc, client);
    PaintFocusCue(dc, client);
}

void ReportSurface::SetLoopbackRunning(bool running) {
    loopbackRunning_ = running;
    if (hwnd_) {
        InvalidateRect(hwnd_, nullptr, FALSE);
    }
}

// Right-aligned on the surface's last line, on the surface's own colour so that it reads even
// over the end of a report that long; it is no line of the report, so neither the window text nor
// a copy holds it.
void ReportSurface::PaintRunning(HDC dc, const RECT& client) const {
    if (!loopbackRunning_) {
        return;
    }
    constexpr wchar_t kRunning[] = L"正在自动检测…";
    SIZE size = {};
    GetTextExtentPoint32W(dc, kRunning, static_cast<int>(std::size(kRunning)) - 1, &size);
    const int inset = size.cy / 4;
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    TextOutW(dc, client.right - inset - size.cx, client.bottom - inset - size.cy, kRunning,
             static_cast<int>(std::size(kRunning)) - 1);
    SetBkMode(dc, TRANSPARENT);
}

// The icon at full strength, then the surface colour laid over it at the
// weight that leaves the icon only as strong as legibility allows.
void ReportSurface::PaintWatermark(HDC dc) const {
    if (!icon_) {
        return;
    }
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const int iconWeight = kelvane::WatermarkAlpha(ToRgb(face), ToRgb(GetSysColor(COLOR_BTNTEXT)));
    if (iconWeight == 0) {
        return;
    }
    DrawIconEx(dc, 0, 0, icon_, iconSize_, iconSize_, 0, nullptr, DI_NORMAL);
    ScopedMemoryDc memory(CreateCompatibleDC(dc));
    ScopedBitmap pixel(CreateCompatibleBitmap(dc, 1, 1));
    if (!memory || !pixel) {
        return;
    }
    ScopedSelect select(memory.get(), pixel.get());
    SetPixelV(memory.get(), 0, 0, face);
    const BLENDFUNCTION veil = {AC_SRC_OVER, 0, static_cast<BYTE>(255 - iconWeight), 0};
    GdiAlphaBlend(dc, 0, 0, iconSize_, iconSize_, memory.get(), 0, 0, 1, 1, veil);
}

// Like the standard controls: shown while focused, unless the user works
// with the mouse and the system hides keyboard cues.
void ReportSurface::PaintFocusCue(HDC dc, const RECT& client) const {
    if (GetFocus() == hwnd_ && !hideFocusCue_) {
        DrawFocusRect(dc, &client);
    }
}

bool ReportSurface::OnKeyDown(WPARAM key) {
    if (CtrlDown() && (key == 'C' || key == VK_INSERT)) {
        CopyReport();
        return true;
    }
    return false;
}

// From the mouse at the pointer; from the keyboard (lParam -1) at the
// surface's top-left corner, where the report starts.
void ReportSurface::ShowContextMenu(LPARAM screenPoint) {
    POINT at = {GET_X_LPARAM(screenPoint), GET_Y_LPARAM(screenPoint)};
    if (screenPoint == -1) {
        at = {0, 0};
        ClientToScreen(hwnd_, &at);
    }
    ScopedMenu menu(CreatePopupMenu());
    if (!menu) {
        return;
    }
    AppendMenuW(menu.get(), MF_STRING | (lines_.empty() ? MF_GRAYED : 0), kCopyCommand,
                L"复制报告(&C)");
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    const UINT tone = MF_STRING | (lines_.empty() || toneChannels_ <= 0 ? MF_GRAYED : 0);
    if (toneChannels_ == 1) {
        AppendMenuW(menu.get(), tone, kToneMonoCommand, L"播放测试音(&P)");
    } else {
        AppendMenuW(menu.get(), tone, kToneLeftCommand, L"左声道测试音(&L)");
        AppendMenuW(menu.get(), tone, kToneRightCommand, L"右声道测试音(&R)");
    }
    if (loopbackRunning_) {
        AppendMenuW(menu.get(), MF_STRING | MF_GRAYED, kLoopbackCommand, L"正在自动检测…");
    } else {
        AppendMenuW(menu.get(), tone, kLoopbackCommand, L"自动检测(&A)");
    }
    const UINT chosen = TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                       at.x, at.y, 0, hwnd_, nullptr);
    if (chosen == kCopyCommand) {
        CopyReport();
    } else if (chosen != 0) {
        SendMessageW(parent_, WM_COMMAND, chosen, reinterpret_cast<LPARAM>(hwnd_));
    }
}

LRESULT ReportSurface::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            return 1;  // PaintContent fills the background itself, without flicker
        case WM_PAINT: {
            ScopedPaint paint(hwnd_);
            PaintContent(paint.dc());
            return 0;
        }
        case WM_PRINTCLIENT:
            PaintContent(reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_LBUTTONDOWN:
            SetFocus(hwnd_);
            return 0;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            InvalidateRect(hwnd_, nullptr, FALSE);
            return 0;
        case WM_UPDATEUISTATE:
            // Kept here as well as by the system: Wine's DefWindowProc keeps no UI state.
            if ((HIWORD(wParam) & UISF_HIDEFOCUS) &&
                (LOWORD(wParam) == UIS_SET || LOWORD(wParam) == UIS_CLEAR)) {
                hideFocusCue_ = LOWORD(wParam) == UIS_SET;
            }
            DefWindowProcW(hwnd_, message, wParam, lParam);
            InvalidateRect(hwnd_, nullptr, FALSE);
            return 0;
        case WM_KEYDOWN:
            if (OnKeyDown(wParam)) {
                return 0;
            }
            break;
        case WM_KEYUP:
            // Windows would turn this into WM_CONTEXTMENU, Wine does not: done
            // here, once, for both.
            if (wParam == VK_APPS) {
                ShowContextMenu(-1);
                return 0;
            }
            break;
        case WM_CONTEXTMENU:
            ShowContextMenu(lParam);
            return 0;
        case WM_GETOBJECT:
            // As a DWORD: on 64-bit Windows the object id arrives sign-extended.
            if (static_cast<DWORD>(lParam) == static_cast<DWORD>(OBJID_CLIENT)) {
                if (const LRESULT object =
                        accessibility_.AnswerClient(hwnd_, wParam, WrapReportObject)) {
                    return object;
                }
            }
            break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}
