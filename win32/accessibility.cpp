#include "win32/accessibility.h"

#include <utility>

// The apartment is left before the modules go: when this was its last entry, leaving releases
// every object still handed out while the code behind them is loaded. Otherwise COM, which loaded
// oleacc.dll itself to marshal them, keeps it loaded as long as the apartment lasts.
Accessibility::~Accessibility() {
    if (leave_) {
        leave_();
    }
}

// Tried once: the answer would not change while the program runs.
bool Accessibility::Ready() {
    if (tried_) {
        return lresult_ != nullptr;
    }
    tried_ = true;
    ScopedModule ole32(LoadFromSystemFolder(L"ole32.dll"));
    ScopedModule oleaut32(LoadFromSystemFolder(L"oleaut32.dll"));
    ScopedModule oleacc(LoadFromSystemFolder(L"oleacc.dll"));
    if (!ole32 || !oleaut32 || !oleacc) {
        return false;
    }
    const auto enter = BindEntry<EnterFn>(ole32.get(), "CoInitializeEx");
    const auto leave = BindEntry<LeaveFn>(ole32.get(), "CoUninitialize");
    const auto allocString = BindEntry<AllocStringFn>(oleaut32.get(), "SysAllocStringLen");
    const auto createStd = BindEntry<CreateStdFn>(oleacc.get(), "CreateStdAccessibleObject");
    const auto lresult = BindEntry<LresultFn>(oleacc.get(), "LresultFromObject");
    // Marshalling the object to the screen reader's process needs an apartment, and the window's
    // thread already pumps the messages a single-threaded one is called through. The input method
    // often made it one already (Wine's does, on every window's thread); then this only counts.
    if (!enter || !leave || !allocString || !createStd || !lresult ||
        FAILED(enter(nullptr, COINIT_APARTMENTTHREADED))) {
        return false;
    }
    ole32_ = std::move(ole32);
    oleaut32_ = std::move(oleaut32);
    oleacc_ = std::move(oleacc);
    leave_ = leave;
    allocString_ = allocString;
    createStd_ = createStd;
    lresult_ = lresult;
    return true;
}

// A fresh object for every request, which the screen reader's reference alone keeps alive.
LRESULT Accessibility::AnswerClient(HWND window, WPARAM flags, WrapStandardFn wrap) {
    if (!Ready()) {
        return 0;
    }
    IAccessible* standard = nullptr;
    if (FAILED(createStd_(window, OBJID_CLIENT, __uuidof(IAccessible),
                          reinterpret_cast<void**>(&standard)))) {
        return 0;
    }
    const ComRef<IAccessible> shown(wrap(window, ComRef<IAccessible>(standard), allocString_));
    const LRESULT answer = lresult_(__uuidof(IAccessible), flags, shown.get());
    return answer > 0 ? answer : 0;
}
