#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {

// run.sh starts Wine again at each further DPI for this.
void dpi_layout() {
    App app;
    serve_device(1, 0, kWorkedRecord);
    if (launch(app, exe, L"native")) {
        check_layout(app);
        check_longest_report_fits(app);
    }
    finish(app);
}

}  // namespace e2e
