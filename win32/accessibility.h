// What a screen reader is handed for one of the program's windows: the system's own accessible
// object for its client area, through oleacc.dll and the COM it needs, loaded from the system
// folder when a screen reader first asks. A user without one pays nothing for it, and the import
// table names no DLL beyond the four every start loads.
#pragma once

#include <windows.h>

#include <oleacc.h>

#include <memory>

#include "win32/system_library.h"

struct ReleaseCom {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename Interface>
using ComRef = std::unique_ptr<Interface, ReleaseCom>;

using AllocStringFn = BSTR(WINAPI*)(const OLECHAR*, UINT);
// Makes the object a window shows from the standard one, which it then owns; allocString makes
// the strings it hands out, as COM frees them.
using WrapStandardFn = IAccessible* (*)(HWND window, ComRef<IAccessible> standard,
                                        AllocStringFn allocString);

class Accessibility {
  public:
    Accessibility() = default;
    Accessibility(const Accessibility&) = delete;
    Accessibility& operator=(const Accessibility&) = delete;
    ~Accessibility();

    // The answer to WM_GETOBJECT for window's client area; 0 when the system's libraries are not
    // to be had or refuse, so that DefWindowProc answers as before.
    LRESULT AnswerClient(HWND window, WPARAM flags, WrapStandardFn wrap);

  private:
    bool Ready();

    using EnterFn = HRESULT(WINAPI*)(void*, DWORD);
    using LeaveFn = void(WINAPI*)();
    using CreateStdFn = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
    using LresultFn = LRESULT(WINAPI*)(REFIID, WPARAM, IUnknown*);

    bool tried_ = false;
    ScopedModule ole32_, oleaut32_, oleacc_;
    LeaveFn leave_ = nullptr;
    AllocStringFn allocString_ = nullptr;
    CreateStdFn createStd_ = nullptr;
    LresultFn lresult_ = nullptr;
};
