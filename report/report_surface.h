// Picture1: the sunken area the report is printed on, line under line, over
// the application icon, which shows faintly enough to keep the text legible.
// It keeps the lines printed since the last Clear and draws them on every
// paint, so covering, minimising or a message box never erases the report.
// Its window text is the report, and the same text is what a screen reader
// reads as the value of read-only text named 报告 (report_accessible), and
// what Ctrl+C, Ctrl+Insert and its context menu put on the clipboard. The
// menu also offers a test tone on the reported device, and the automatic check
// that plays and listens; sound is not the report's business, so those choices
// go to the parent as a WM_COMMAND.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "report/print_item.h"
#include "win32/accessibility.h"
#include "win32/scoped_gdi.h"
#include "win32/window_thunk.h"

class ReportSurface {
  public:
    static constexpr const wchar_t* kClassName = L"KelvanePicture";
    // The context menu's tone choices, as the parent receives them in
    // WM_COMMAND (the surface's window in lParam).
    static constexpr UINT kToneLeftCommand = 2, kToneRightCommand = 3, kToneMonoCommand = 4;
    static constexpr UINT kLoopbackCommand = 5;
    static bool Register(HINSTANCE instance);

    HWND Create(HWND parent, int id, HINSTANCE instance);
    HWND hwnd() const { return hwnd_; }

    // Not owned: the form owns the font and the icon (the window's own big
    // icon) and keeps them alive while set.
    void SetFont(HFONT font);
    void SetIcon(HICON icon, int pixels);

    void Clear();
    void Print(const kelvane::PrintStatement& statement);
    // The channel count the report gives its device: one tone item for 1,
    // left and right for more, greyed for none (or no report).
    void SetToneChannels(int channels);
    // While the automatic check runs, its item says so and cannot be chosen again, and the
    // surface's foot says so to a user who chose it by keyboard and sees no pointer.
    void SetLoopbackRunning(bool running);

  private:
    template <typename Owner>
    friend LRESULT CALLBACK WindowThunk(HWND, UINT, WPARAM, LPARAM);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void PaintContent(HDC dc) const;
    void PaintWatermark(HDC dc) const;
    void PaintFocusCue(HDC dc, const RECT& client) const;
    void PaintRunning(HDC dc, const RECT& client) const;
    HFONT Font() const;
    std::u16string ReportText() const;
    void PublishText();
    bool OnKeyDown(WPARAM key);
    void ShowContextMenu(LPARAM screenPoint);
    void CopyReport() const;

    HWND hwnd_ = nullptr;
    HWND parent_ = nullptr;
    HFONT font_ = nullptr;
    HICON icon_ = nullptr;
    int iconSize_ = 0;
    int lineHeight_ = 0;
    bool hideFocusCue_ = false;
    int toneChannels_ = 0;
    bool loopbackRunning_ = false;
    std::vector<std::u16string> lines_;
    Accessibility accessibility_;
};
