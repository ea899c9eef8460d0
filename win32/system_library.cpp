#include "win32/system_library.h"

HMODULE LoadFromSystemFolder(const wchar_t* name) {
    if (HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return module;
    }
    // Windows 7 without the search-flags update rejects the flag; a full
    // path gives the same guarantee there.
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 1 + static_cast<UINT>(lstrlenW(name)) >= MAX_PATH) {
        return nullptr;
    }
    path[length] = L'\\';
    lstrcpyW(path + length + 1, name);
    return LoadLibraryW(path);
}
