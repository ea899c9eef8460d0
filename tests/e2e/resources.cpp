// Kelvane.exe's version information and icon images, read from the file as Windows reads them.
#include <algorithm>
#include <cstring>

#include "harness.h"
#include "scenarios.h"

namespace e2e {

void resources() {
    std::vector<char> info(GetFileVersionInfoSizeW(exe.c_str(), nullptr));
    GetFileVersionInfoW(exe.c_str(), 0, DWORD(info.size()), info.data());
    void* value = nullptr;
    UINT len = 0;
    auto query = [&](const wchar_t* path) {
        return VerQueryValueW(info.data(), path, &value, &len);
    };
    auto fixed = static_cast<VS_FIXEDFILEINFO*>(query(L"\\") ? value : nullptr);
    check(fixed && fixed->dwFileVersionMS == 0x10000 && fixed->dwFileVersionLS == 0 &&
              fixed->dwProductVersionMS == 0x10000 && fixed->dwProductVersionLS == 0,
          L"file and product version 1.0.0.0");
    auto lang = static_cast<WORD*>(query(L"\\VarFileInfo\\Translation") ? value : nullptr);
    check(lang && len == 4 && lang[0] == 0x0804 && lang[1] == 1200, L"translation 0804, 1200");
    const wchar_t* strings[][2] = {
        {L"CompanyName", L"Orvesk"},
        {L"FileDescription", L"Orvesk声卡测试工具 v1.0"},
        {L"ProductName", L"Orvesk声卡测试工具 v1.0"},
        {L"FileVersion", L"1.00"},
        {L"ProductVersion", L"1.00"},
        {L"InternalName", L"Kelvane"},
        {L"OriginalFilename", L"Kelvane.exe"},
    };
    for (auto& s : strings) {
        std::wstring got = query((std::wstring(L"\\StringFileInfo\\080404b0\\") + s[0]).c_str())
                               ? static_cast<wchar_t*>(value)
                               : L"<missing>";
        check(got == s[1], std::wstring(L"version string ") + s[0], got);
    }

    // Each image described by its own header, not by the group directory that points to it.
    HMODULE m = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    auto load = [m](int id, LPCWSTR type) {
        HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(id), type);
        return r ? static_cast<const BYTE*>(LockResource(LoadResource(m, r))) : nullptr;
    };
    const BYTE* dir = load(1, RT_GROUP_ICON);
    Lines got, want = {L"256/png"};
    for (int i = 0; dir && i < *reinterpret_cast<const WORD*>(dir + 4); ++i) {
        const BYTE* entry = dir + 6 + 14 * i;
        const BYTE* p = load(*reinterpret_cast<const WORD*>(entry + 12), RT_ICON);
        auto bmp = reinterpret_cast<const BITMAPINFOHEADER*>(p);
        got.push_back(
            !p ? L"missing"
            : memcmp(p, "\x89PNG", 4) == 0
                ? std::to_wstring(p[18] << 8 | p[19]) + (entry[0] ? L"/png, not 0" : L"/png")
                : std::to_wstring(bmp->biWidth) + L"/" + std::to_wstring(bmp->biBitCount));
    }
    for (int w : {64, 48, 32, 24, 16}) {
        for (int bpp : {4, 8, 32}) {
            want.push_back(std::to_wstring(w) + L"/" + std::to_wstring(bpp));
        }
    }
    std::sort(got.begin(), got.end()), std::sort(want.begin(), want.end());
    std::wstring all;
    for (auto& g : got) {
        all += g + L" ";
    }
    check(got == want, L"icon group 1 holds the 16 images", all);
    FreeLibrary(m);
}

}  // namespace e2e
