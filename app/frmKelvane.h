// The main form: the window, its two controls, and the test they run.
#pragma once

#include <windows.h>

#include "device/Module1.h"
#include "device/loopback_check.h"
#include "device/tone_player.h"
#include "report/report_surface.h"
#include "win32/scoped_gdi.h"
#include "win32/window_thunk.h"

class frmKelvane {
  public:
    static constexpr const wchar_t* kClassName = L"KelvaneForm";
    static constexpr int kCmdTestId = 100;
    static constexpr int kPicture1Id = 101;
    // Exit status when the test finds no sound device.
    static constexpr UINT kExitNoDevice = 1;

    bool Create(HINSTANCE instance);
    void Form_Load();
    void Show(int showCommand);
    // Keyboard handling a dialog would give: Tab order, and Enter on the button.
    bool PreTranslateMessage(MSG& msg);

  private:
    template <typename Owner>
    friend LRESULT CALLBACK WindowThunk(HWND, UINT, WPARAM, LPARAM);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool OnCreate();
    void OnActivate(WPARAM wParam);
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    void ApplyDpi(UINT dpi);

    void CmdTest_Click();
    bool TestCard();
    void PlayTone(UINT command);
    void StartLoopback();
    void FinishLoopback();
    void CancelLoopback();
    void ShowLoopbackOutcome(const kelvane::LoopbackOutcome& outcome);
    bool OnSetCursor(LPARAM lParam);
    void RefreshCursor();

    HWND hwnd_ = nullptr;
    HINSTANCE instance_ = nullptr;
    HWND CmdTest = nullptr;
    ReportSurface Picture1;
    HWND lastFocus_ = nullptr;
    Module1 winmm_;
    TonePlayer player_;
    LoopbackCheck loopback_;
    int reportChannels_ = 0;  // what the report said of device 0
    ScopedFont font_;
    ScopedIcon bigIcon_, smallIcon_;
};
