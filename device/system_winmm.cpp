#include "device/system_winmm.h"

HMODULE LoadWinmmFromSystemFolder() {
    if (HMODULE module = LoadLibraryExW(L"winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return module;
    }
    // Windows 7 without the search-flags update rejects the flag; a full
    // path gives the same guarantee there.
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 11 >= MAX_PATH) {
        return nullptr;
    }
    lstrcpyW(path + length, L"\\winmm.dll");
    return LoadLibraryW(path);
}
