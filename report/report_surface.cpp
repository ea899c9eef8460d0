#include "report/report_surface.h"

#include "resources/resource.h"

bool ReportSurface::Register(HINSTANCE instance) {
    return RegisterOwnerClass<ReportSurface>(instance, kClassName);
}

HWND ReportSurface::Create(HWND parent, int id, HINSTANCE instance) {
    instance_ = instance;
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

void ReportSurface::SetIconSize(int pixels) {
    if (pixels != iconSize_) {
        iconSize_ = pixels;
        icon_ = LoadAppIcon(instance_, IDI_KELVANE, pixels);
        InvalidateRect(hwnd_, nullptr, TRUE);
    }
}

void ReportSurface::Clear() {
    lines_.clear();
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

void ReportSurface::PublishText() {
    std::u16string text;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        text += (i == 0 ? u"" : u"\r\n") + lines_[i];
    }
    SetWindowTextW(hwnd_, reinterpret_cast<const wchar_t*>(text.c_str()));
}

void ReportSurface::PaintContent(HDC dc) const {
    RECT client;
    GetClientRect(hwnd_, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    if (icon_) {
        DrawIconEx(dc, 0, 0, icon_.get(), iconSize_, iconSize_, 0, nullptr, DI_NORMAL);
    }
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
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}
