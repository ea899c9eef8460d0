// DLLs the program loads itself, on first use, from the system folder only: a DLL of the same
// name lying beside the exe (a Downloads folder, say) must never run inside it.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

struct FreeModule {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using ScopedModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, FreeModule>;

// Null when it could not be loaded.
HMODULE LoadFromSystemFolder(const wchar_t* name);

template <typename Fn>
Fn BindEntry(HMODULE module, const char* name) {
    // GetProcAddress returns a generic FARPROC; the callers name the
    // published signatures.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
