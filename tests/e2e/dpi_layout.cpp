#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {

// run.sh starts Wine again at each further DPI for this.
void dpi_layout() {
    Session app;
    if (app.launch(L"native", &kWorkedRecord)) {
        check_layout(app);
        check_longest_report_fits(app);
    }
}

}  // namespace e2e
