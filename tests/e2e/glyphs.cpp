// Every character Kelvane shows must be drawn with a real glyph. WM_GETTEXT answers the right text
// even where Wine finds no font for it and draws each character as the missing-glyph box, so
// this draws each character itself, with the font Wine draws that text in (the UI fonts of this
// prefix, font linking and all), and compares it with how that font draws a code point that no
// font has.
#include <windows.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {
namespace {

// Unassigned in Unicode, so every font and every linked font lacks it.
constexpr wchar_t kNoSuchCharacter = 0x0378;

// One character as font draws it, black on white, in a square roomy enough for any UI font at
// any DPI; empty when it could not be drawn.
Pixels drawn(HFONT font, wchar_t c) {
    constexpr LONG kSide = 160;
    BITMAPINFO bi = {top_down(kSide, kSide), {}};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    Pixels px;
    if (bmp) {
        HGDIOBJ old_bmp = SelectObject(dc, bmp), old_font = SelectObject(dc, font);
        RECT all = {0, 0, kSide, kSide};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkMode(dc, TRANSPARENT);
        if (TextOutW(dc, 8, 8, &c, 1)) {
            GdiFlush();
            px.assign(static_cast<DWORD*>(bits), static_cast<DWORD*>(bits) + kSide * kSide);
        }
        SelectObject(dc, old_font), SelectObject(dc, old_bmp), DeleteObject(bmp);
    }
    DeleteDC(dc);
    return px;
}

bool has_ink(const Pixels& px) {
    for (DWORD p : px) {
        if ((p & 0xFFFFFF) != 0xFFFFFF) {
            return true;
        }
    }
    return false;
}

// The UI fonts as a program started now is given them, as Kelvane was: Wine 10 gives the first
// program in a new prefix other ones ("MS Shell Dlg", a bold caption) than every later program,
// and each process keeps what it was given, so the driver's own view may be stale. A copy of the
// driver started for it writes them to a file.
bool ui_fonts_now(NONCLIENTMETRICSW& metrics) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring file = device_file + L".ui-fonts";
    DeleteFileW(file.c_str());
    std::wstring cmdline =
        L"\"" + std::wstring(self) + L"\" --ui-fonts \"" + file + L"\" \"" + exe + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(self, cmdline.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        return false;
    }
    WaitForSingleObject(pi.hProcess, kStartMs);
    CloseHandle(pi.hProcess), CloseHandle(pi.hThread);
    std::string bytes;
    const bool whole = read_file(file, bytes) && bytes.size() == sizeof metrics;
    if (whole) {
        std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(&metrics));
    }
    DeleteFileW(file.c_str());
    return whole;
}

struct Shown {
    std::wstring what, text;
};

// Each text in the font Wine draws it in: the characters that come out as the missing-glyph
// box, or as nothing at all, fail it. Spaces and line breaks are meant to be empty; '&' only
// marks the access key.
void check_glyphs(const wchar_t* font_name, const LOGFONTW& logfont,
                  const std::vector<Shown>& shown) {
    HFONT font = CreateFontIndirectW(&logfont);
    const Pixels missing = font ? drawn(font, kNoSuchCharacter) : Pixels{};
    if (check(
            has_ink(missing),
            std::wstring(L"the ") + font_name + L" font draws a missing-glyph box to compare with",
            font ? L"nothing drawn" : L"no font")) {
        for (const Shown& s : shown) {
            std::set<wchar_t> seen;
            std::wstring boxes;
            // A linked font's own box would differ from the base font's, but two different
            // characters beyond ASCII are never drawn alike with real glyphs.
            std::vector<std::pair<wchar_t, Pixels>> wide;
            for (wchar_t c : s.text) {
                if (c <= L' ' || c == L'&' || !seen.insert(c).second) {
                    continue;
                }
                Pixels px = drawn(font, c);
                bool alike = false;
                for (const auto& [other, other_px] : wide) {
                    if (c > 0x7F && px == other_px) {
                        alike = true;
                        if (boxes.find(other) == std::wstring::npos) {
                            boxes += other;
                        }
                    }
                }
                if (px.empty()) {
                    boxes += L"<not drawn>";
                } else if (px == missing || !has_ink(px) || alike) {
                    boxes += c;
                }
                if (c > 0x7F) {
                    wide.emplace_back(c, std::move(px));
                }
            }
            // A whole report is named, not quoted.
            const std::wstring quoted =
                s.text.find(L'\n') == std::wstring::npos ? L" \"" + s.text + L"\"" : L"";
            check(boxes.empty() && !seen.empty() && s.text != kNoAnswer,
                  s.what + quoted + L" is drawn with real glyphs in the " + font_name + L" font",
                  boxes.empty() ? L"no text" : L"missing glyphs: " + boxes);
        }
    }
    DeleteObject(font);
}

}  // namespace

bool write_ui_fonts(const std::wstring& file) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        return false;
    }
    write_file(file, std::string(reinterpret_cast<const char*>(&metrics), sizeof metrics));
    return true;
}

void glyphs() {
    // What Kelvane shows, read from its own windows where they can be read; the menu's item text
    // cannot be asked for from another process under Wine, so it is the one Kelvane must show.
    std::vector<Shown> caption, message;
    {
        Session app;
        if (!app.launch(L"native", &kWorkedRecord)) {
            return;
        }
        caption = {{L"the caption", text_of(app.form)}};
        message = {{L"the button", text_of(app.cmd)}};
        app.press();
        const Box box = app.box();
        if (check(bool(box), L"the presence box appears")) {
            message.push_back({L"the box's title", box.title});
            message.push_back({L"the box's prompt", box.text});
            message.push_back({L"the box's OK", text_of(GetDlgItem(box.hwnd, IDOK))});
            box.press_ok();
            message.push_back({L"the report", joined(report_after_ok(app))});
        }
    }
    // The other prompt and every line a report can hold, whatever device this one is.
    message.push_back({L"the no-device prompt", kNotFound});
    message.push_back(
        {L"every report line", joined(kSpeakers + kAllFormats + kNoFlags + kAllFeatures)});
    // And the automatic check's box, every line it can hold.
    message.push_back(
        {L"every line of the automatic check's box",
         L"左声道：听到，440 Hz，-12.0 dBFS 右声道：没听到（录音里只有 -72.0 dBFS 的噪声）"
         L"测试音：左右声道接反：左声道的测试音出现在录音的右声道。"
         L"录音设备只有一个声道（或两个声道相同），分不出左右。往返延迟：8 ms"
         L"录音设备：如果用的是耳机，录音设备听不到它：请用左、右声道测试音试听。"
         L"左声道的测试音中断了 3 次（断音），声音可能时断时续。"
         L"左声道失真 4.9 %，声音可能发破。录音电平过高，录音被削顶；请调低录音音量后再试。"
         L"录音里有 50 Hz 的嗡嗡声（-34.0 dBFS），可能是接地或线缆的问题。"
         L"右声道比左声道小 6.0 dB。"
         L"检测时声音丢失了约 100 ms，无法判断。请关闭占用电脑的程序后再试一次。"
         L"检测时声音不完整，无法判断。没有录音设备，无法自动检测。无法录音：无法播放测试音："});
    NONCLIENTMETRICSW metrics = {};
    if (!check(ui_fonts_now(metrics), L"Wine gives a new program its UI fonts")) {
        return;
    }
    check_glyphs(L"caption", metrics.lfCaptionFont, caption);
    // Kelvane's button and report use the message font, as does Wine's message box.
    check_glyphs(L"message", metrics.lfMessageFont, message);
    check_glyphs(L"menu", metrics.lfMenuFont, {{L"the context menu item", L"复制报告(&C)"}});
}

}  // namespace e2e
