#include <windows.h>

#include <psapi.h>

#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {
namespace {

// One press answered, ending with the worked example on the surface.
bool press_once(App& app, const std::wstring& want, DWORD poll_ms = 50) {
    app.press();
    const Box box = app.box();
    if (!box) {
        return false;
    }
    box.press_ok();
    return poll(
        kWaitMs, [&] { return !IsWindow(box.hwnd) && text_of(app.pic) == want; }, poll_ms);
}

SIZE_T working_set(App& app) {
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(app.pi.hProcess, &counters, sizeof counters);
    return counters.WorkingSetSize;
}

}  // namespace

// Memory must not grow with use. GetGuiResources is a stub under Wine (always 0): the figures
// mean something on Windows only.
void memory(int presses) {
    Session app;
    if (!app.launch(L"native", &kWorkedRecord)) {
        return;
    }
    const std::wstring want = joined(kWorked);
    int done = press_once(app, want) ? 1 : 0;
    const SIZE_T first = working_set(app);
    const DWORD gdi = GetGuiResources(app.pi.hProcess, GR_GDIOBJECTS),
                user = GetGuiResources(app.pi.hProcess, GR_USEROBJECTS);
    while (done > 0 && done < presses && press_once(app, want)) {
        ++done;
    }
    const SIZE_T last = working_set(app);
    // A counter Wine could not read is 0: neither end may be.
    check(done == presses && first > 0 && last > 0 && last <= first + 256 * 1024,
          std::to_wstring(presses) + L" presses: working set within 256 KB of the first",
          std::to_wstring(done) + L" presses, " + std::to_wstring(first / 1024) + L" KB -> " +
              std::to_wstring(last / 1024) + L" KB");
    say(L"memory: working set " + std::to_wstring(first / 1024) + L" KB after 1 press, " +
        std::to_wstring(last / 1024) + L" KB after " + std::to_wstring(done) +
        L"; GUI objects GDI " + std::to_wstring(gdi) + L" -> " +
        std::to_wstring(GetGuiResources(app.pi.hProcess, GR_GDIOBJECTS)) + L", USER " +
        std::to_wstring(user) + L" -> " +
        std::to_wstring(GetGuiResources(app.pi.hProcess, GR_USEROBJECTS)));
}

}  // namespace e2e
