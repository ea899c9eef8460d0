// No device, or no usable winmm: Kelvane says so and ends with exit code 1.
#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {

void no_device() {
    const struct {
        const wchar_t* name;
        const wchar_t* winmm;
        unsigned count;
    } cases[] = {
        {L"device count 0", L"native", 0},
        {L"device count 0x80000000", L"native", 0x80000000},
        {L"Wine's own winmm without audio", L"builtin", 1},
        {L"no winmm at all", L"", 1},
    };
    for (const auto& c : cases) {
        serve_device(c.count, 0, kWorkedRecord);
        Session app;
        if (app.launch(c.winmm)) {
            app.press();
            if (answer_box(app, c.name, kNotFound)) {
                app.ends_with(1, std::wstring(c.name) + L": exits with code 1");
            }
        }
    }
}

}  // namespace e2e
