// The report stays legible over its picture: every pixel of the empty surface keeps at least
// 4.5:1 contrast (WCAG 2 AA, from relative luminance) with the text colour, under the default
// colours and under a dark high-contrast scheme set the way the user would, in the registry Wine
// reads its colours from. Pictures of each scheme with a report go to tests/e2e/screenshots.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {
namespace {

constexpr const wchar_t* kColors = L"Control Panel\\Colors";

// Worked out here from the WCAG definitions, apart from Kelvane's own arithmetic.
double luminance(DWORD argb) {
    const auto channel = [](DWORD v) {
        const double c = (v & 0xFF) / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(argb >> 16) + 0.7152 * channel(argb >> 8) + 0.0722 * channel(argb);
}

double contrast(DWORD a, DWORD b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

std::wstring get_color(const wchar_t* name) {
    wchar_t value[32] = {};
    DWORD size = sizeof value;
    return RegGetValueW(HKEY_CURRENT_USER, kColors, name, RRF_RT_REG_SZ, nullptr, value, &size) ==
                   ERROR_SUCCESS
               ? value
               : L"";
}

void set_color(const wchar_t* name, const std::wstring& rgb) {
    HKEY key;
    RegCreateKeyExW(HKEY_CURRENT_USER, kColors, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                    nullptr);
    if (rgb.empty()) {
        RegDeleteValueW(key, name);
    } else {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(rgb.c_str()),
                       DWORD(rgb.size() + 1) * sizeof(wchar_t));
    }
    RegCloseKey(key);
}

// A colour as the grabbed pixels store it (0xAARRGGBB).
DWORD pixel_of(const std::wstring& rgb) {
    unsigned r = 0, g = 0, b = 0;
    swscanf(rgb.c_str(), L"%u %u %u", &r, &g, &b);
    return 0xFF000000 | r << 16 | g << 8 | b;
}

void scheme(const std::wstring& name, DWORD text) {
    Session app;
    if (!app.launch(L"native", &kWorkedRecord)) {
        return;
    }
    // The icon is the one thing drawn on the empty surface: wait for it, then measure all of it.
    const Pixels empty = settled(app.pic, [](const Pixels& p) {
        return std::any_of(p.begin(), p.end(), [&p](DWORD v) { return v != p.back(); });
    });
    // A surface without its watermark would pass the contrast check by default: it must be there,
    // in the icon's square at the top-left, before the pixels mean anything.
    const int side = px(480), marked = inked(empty, app.pic, 0, side);
    double lowest = 21;
    for (DWORD p : empty) {
        lowest = std::min(lowest, contrast(p, text));
    }
    wchar_t figure[64];
    swprintf(figure, 64, L"%.2f:1, %d of %d icon pixels marked", lowest, marked, side * side);
    check(marked > side * side / 10 && lowest >= 4.5,
          name + L": the watermark is there, and every pixel keeps 4.5:1 with the text", figure);
    say(L"legibility: " + name + L", lowest contrast on the empty surface " + figure);

    app.press();
    if (answer_box(app, name, kFound)) {
        report_after_ok(app);
        settled(app.pic);
        RECT form;
        GetWindowRect(app.form, &form);
        CreateDirectoryW((here + L"screenshots").c_str(), nullptr);
        save_bmp(here + L"screenshots\\" + name + L".bmp", form);
    }
}

}  // namespace

void legibility() {
    // This driver read the colours in force when it started: the default ones.
    scheme(L"default-colours", as_pixel(GetSysColor(COLOR_BTNTEXT)));
    // The dark high-contrast scheme, white text on black faces, set as a control panel does:
    // stored for later sessions, and applied to the running one (where Wine keeps colours set
    // since its start, such as a theme's, ahead of the stored ones).
    const int elements[] = {COLOR_BTNFACE,    COLOR_BTNTEXT,   COLOR_WINDOW,
                            COLOR_WINDOWTEXT, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT};
    const wchar_t* names[] = {L"ButtonFace", L"ButtonText",   L"Window",
                              L"WindowText", L"ButtonShadow", L"ButtonHilight"};
    const wchar_t* dark[] = {L"0 0 0",       L"255 255 255", L"0 0 0",
                             L"255 255 255", L"128 128 128", L"255 255 255"};
    std::wstring saved[6];
    COLORREF live[6], dark_live[6];
    for (int i = 0; i < 6; ++i) {
        saved[i] = get_color(names[i]);
        live[i] = GetSysColor(elements[i]);
        const DWORD argb = pixel_of(dark[i]);
        dark_live[i] = RGB(argb >> 16 & 0xFF, argb >> 8 & 0xFF, argb & 0xFF);
        set_color(names[i], dark[i]);
    }
    SetSysColors(6, elements, dark_live);
    scheme(L"high-contrast-black", pixel_of(dark[1]));
    for (int i = 0; i < 6; ++i) {
        set_color(names[i], saved[i]);
    }
    SetSysColors(6, elements, live);
}

}  // namespace e2e
