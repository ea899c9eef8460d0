// Entry point: one window, one message loop. The command line is not used.
#include <windows.h>

#include "app/dpi.h"
#include "app/frmKelvane.h"

namespace {

// Before any library is loaded: DLLs come from the system folder only, never
// from the exe's folder or the current directory.
void RestrictDllSearchToSystemFolder() {
    using Fn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const auto setDefault = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (setDefault) {
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    SetDllDirectoryW(L"");  // where the call above is missing: drop the current directory
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    RestrictDllSearchToSystemFolder();
    DeclarePerMonitorDpiAwareness();

    frmKelvane form;
    if (!form.Create(instance)) {
        return 1;
    }
    form.Form_Load();
    form.Show(showCommand);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!form.PreTranslateMessage(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
