#include "app/frmKelvane.h"

#include <iterator>

#include "app/dpi.h"
#include "app/loopback_lines.h"
#include "app/presence.h"
#include "app/report_content.h"
#include "app/twips.h"
#include "device/device_query.h"
#include "resources/resource.h"

namespace {

using kelvane::TwipRect;

constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr int kClientWidth = 4680, kClientHeight = 5775;
constexpr TwipRect kCmdTestRect = {1440, 5280, 1335, 375};
constexpr TwipRect kPicture1Rect = {240, 240, 4095, 4815};
// The longest report: five details, two headings, twelve formats, five features.
constexpr int kLongestReportLines = 24;

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");
const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

int Px(int twips, UINT dpi) {
    return kelvane::TwipsToPixels(twips, static_cast<int>(dpi));
}

void Place(HWND control, const TwipRect& rect, UINT dpi) {
    SetWindowPos(control, nullptr, Px(rect.left, dpi), Px(rect.top, dpi), Px(rect.width, dpi),
                 Px(rect.height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
}

// The system's message font at this DPI, made smaller only if the longest
// report would not fit into the surface with it.
ScopedFont CreateUiFont(UINT dpi, int maxCellHeight) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    LOGFONTW logFont = metrics.lfMessageFont;
    const int systemDpi = static_cast<int>(WindowDpi(nullptr));
    logFont.lfHeight = MulDiv(logFont.lfHeight, static_cast<int>(dpi), systemDpi);
    ScopedFont font(CreateFontIndirectW(&logFont));
    if (font && FontCellHeight(font.get()) > maxCellHeight) {
        logFont.lfHeight = maxCellHeight;  // positive: the whole cell, leading included
        logFont.lfWidth = 0;
        font.reset(CreateFontIndirectW(&logFont));
    }
    return font;
}

}  // namespace

bool frmKelvane::Create(HINSTANCE instance) {
    instance_ = instance;
    if (!RegisterOwnerClass<frmKelvane>(instance, kClassName) ||
        !ReportSurface::Register(instance)) {
        return false;
    }
    // The real size is set in OnCreate, once the window's DPI is known.
    return CreateWindowExW(0, kClassName, L"Orvesk声卡测试 v1.0", kStyle, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance,
                           this) != nullptr;
}

void frmKelvane::Form_Load() {
    Picture1.Clear();
}

void frmKelvane::Show(int showCommand) {
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    SetFocus(CmdTest);
}

bool frmKelvane::PreTranslateMessage(MSG& msg) {
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB) {
        // The user moves by keyboard, so keyboard cues show. Windows' dialog
        // manager says so to every control itself; Wine's does not.
        SendMessageW(Picture1.hwnd(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    }
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN && msg.hwnd == CmdTest) {
        SendMessageW(CmdTest, BM_CLICK, 0, 0);
        return true;
    }
    return IsDialogMessageW(hwnd_, &msg) != FALSE;
}

LRESULT frmKelvane::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate() ? 0 : -1;
        case WM_COMMAND:
            if (LOWORD(wParam) == kCmdTestId && HIWORD(wParam) == BN_CLICKED) {
                CmdTest_Click();
            } else if (reinterpret_cast<HWND>(lParam) == Picture1.hwnd()) {
                if (LOWORD(wParam) == ReportSurface::kLoopbackCommand) {
                    StartLoopback();
                } else {
                    PlayTone(LOWORD(wParam));
                }
            }
            return 0;
        case MM_WOM_DONE:
            player_.OnDone(reinterpret_cast<HWAVEOUT>(wParam));
            loopback_.OnPlayed(reinterpret_cast<HWAVEOUT>(wParam));
            return 0;
        case MM_WIM_DATA:
            if (loopback_.OnRecorded(reinterpret_cast<HWAVEIN>(wParam),
                                     reinterpret_cast<WAVEHDR*>(lParam))) {
                FinishLoopback();
            }
            return 0;
        case WM_TIMER:
            if (wParam == LoopbackCheck::kDeadlineTimer) {
                FinishLoopback();
            }
            return 0;
        case WM_SETCURSOR:
            if (OnSetCursor(lParam)) {
                return TRUE;
            }
            break;
        case WM_ACTIVATE:
            OnActivate(wParam);
            return 0;
        case WM_SETFOCUS:
            SetFocus(lastFocus_ ? lastFocus_ : CmdTest);
            return 0;
        case WM_SYSCOLORCHANGE:
            // Only top-level windows hear of a new colour scheme.
            InvalidateRect(Picture1.hwnd(), nullptr, TRUE);
            return 0;
        case WM_DPICHANGED:
            OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_DESTROY:
            CancelLoopback();
            player_.Stop();
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

bool frmKelvane::OnCreate() {
    CmdTest = CreateWindowExW(
        0, L"BUTTON", L"测试声卡", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0,
        hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCmdTestId)), instance_, nullptr);
    if (!CmdTest || !Picture1.Create(hwnd_, kPicture1Id, instance_)) {
        return false;
    }
    lastFocus_ = CmdTest;
    const UINT dpi = WindowDpi(hwnd_);
    const RECT frame =
        WindowRectForClient(Px(kClientWidth, dpi), Px(kClientHeight, dpi), kStyle, 0, dpi);
    SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyDpi(dpi);
    return true;
}

void frmKelvane::OnActivate(WPARAM wParam) {
    // Give the focus back to the control that had it, so Space and Enter
    // still reach the button after the message box closes.
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd_, focus)) {
            lastFocus_ = focus;
        }
    } else {
        SetFocus(lastFocus_ ? lastFocus_ : CmdTest);
    }
}

void frmKelvane::OnDpiChanged(UINT dpi, const RECT& suggested) {
    SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyDpi(dpi);
}

void frmKelvane::ApplyDpi(UINT dpi) {
    Place(CmdTest, kCmdTestRect, dpi);
    Place(Picture1.hwnd(), kPicture1Rect, dpi);
    RECT inside;
    GetClientRect(Picture1.hwnd(), &inside);
    font_ = CreateUiFont(dpi, (inside.bottom - inside.top) / kLongestReportLines);
    SendMessageW(CmdTest, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
    Picture1.SetFont(font_.get());
    const int bigIconSize = MulDiv(32, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
    bigIcon_ = LoadAppIcon(instance_, IDI_KELVANE, bigIconSize);
    // The window's big icon is also the surface's picture, at the same size.
    Picture1.SetIcon(bigIcon_.get(), bigIconSize);
    smallIcon_ = LoadAppIcon(instance_, IDI_KELVANE,
                             MulDiv(16, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI));
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
}

void frmKelvane::CmdTest_Click() {
    CancelLoopback();
    player_.Stop();
    Picture1.Clear();
    if (!TestCard()) {
        ExitProcess(kExitNoDevice);
    }
    const kelvane::DeviceCaps caps = QueryDevice0(winmm_);
    for (const kelvane::PrintStatement& statement : kelvane::ComposeReport(caps)) {
        Picture1.Print(statement);
    }
    reportChannels_ = caps.wChannels;
    Picture1.SetToneChannels(caps.wChannels);
}

bool frmKelvane::TestCard() {
    const auto count = static_cast<std::int32_t>(winmm_.waveOutGetNumDevs());
    const kelvane::Presence presence = kelvane::DecidePresence(count);
    MessageBoxW(hwnd_, Wide(presence.prompt), Wide(kelvane::kPresenceTitle), MB_OK);
    return presence.found;
}

// A tone that cannot play says why, in the platform's words, and changes nothing else.
void frmKelvane::PlayTone(UINT command) {
    using kelvane::ToneChannel;
    ToneChannel channel;
    switch (command) {
        case ReportSurface::kToneLeftCommand:
            channel = ToneChannel::Left;
            break;
        case ReportSurface::kToneRightCommand:
            channel = ToneChannel::Right;
            break;
        case ReportSurface::kToneMonoCommand:
            channel = ToneChannel::Mono;
            break;
        default:
            return;
    }
    CancelLoopback();
    const UINT rc = player_.Play(hwnd_, channel);
    if (rc != MMSYSERR_NOERROR) {
        // Built in place: string concatenation would add runtime imports.
        wchar_t prompt[16 + MAXERRORLENGTH] = L"无法播放测试音：";
        wchar_t* reason = prompt;
        while (*reason) {
            ++reason;
        }
        player_.ErrorText(rc, reason, static_cast<UINT>(prompt + std::size(prompt) - reason));
        MessageBoxW(hwnd_, prompt, L"测试音", MB_OK | MB_ICONWARNING);
    }
}

void frmKelvane::StartLoopback() {
    player_.Stop();
    if (!loopback_.Start(hwnd_, reportChannels_)) {
        kelvane::LoopbackOutcome outcome;
        loopback_.Finish(outcome);
        ShowLoopbackOutcome(outcome);
        return;
    }
    Picture1.SetLoopbackRunning(true);
    RefreshCursor();
}

void frmKelvane::FinishLoopback() {
    // The check is over before its box shows: the box's own message loop must not feed it.
    kelvane::LoopbackOutcome outcome;
    if (!loopback_.Finish(outcome)) {
        return;  // recording again
    }
    Picture1.SetLoopbackRunning(false);
    RefreshCursor();
    ShowLoopbackOutcome(outcome);
}

// Ended by the user's next step: that step is the answer, so no box.
void frmKelvane::CancelLoopback() {
    if (loopback_.Running()) {
        loopback_.Cancel();
        Picture1.SetLoopbackRunning(false);
        RefreshCursor();
    }
}

void frmKelvane::ShowLoopbackOutcome(const kelvane::LoopbackOutcome& outcome) {
    const kelvane::LoopbackLines box = kelvane::ComposeLoopbackBox(outcome);
    std::u16string text;
    for (const std::u16string& line : box.lines) {
        text += (text.empty() ? u"" : u"\n") + line;
    }
    MessageBoxW(hwnd_, Wide(text.c_str()), L"自动检测",
                MB_OK | (box.information ? MB_ICONINFORMATION : MB_ICONWARNING));
}

// While the check runs the window works on, as the app-starting cursor says; the sizing
// borders keep their own cursors.
bool frmKelvane::OnSetCursor(LPARAM lParam) {
    const int hit = LOWORD(lParam);
    if (!loopback_.Running() || (hit >= HTSIZEFIRST && hit <= HTSIZELAST)) {
        return false;
    }
    SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
    return true;
}

// The cursor changes when the mouse next moves; a user holding it still over the window is told
// at once.
void frmKelvane::RefreshCursor() {
    POINT at;
    if (!GetCursorPos(&at)) {
        return;
    }
    HWND under = WindowFromPoint(at);
    if (under && (under == hwnd_ || IsChild(hwnd_, under))) {
        const LRESULT hit = SendMessageW(under, WM_NCHITTEST, 0, MAKELPARAM(at.x, at.y));
        SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under),
                     MAKELPARAM(hit, WM_MOUSEMOVE));
    }
}
