// The scenarios wmain runs, each with its own Kelvane process(es).
#pragma once

#include "harness.h"

namespace e2e {

// Scenarios, in the order of a full run.
void resources();
void form_and_keyboard();
void reports();
void no_device();
void planted_dll();
void memory(int presses);
// --dpi: layout and the longest report again, run at each further DPI.
void dpi_layout();

// Checks on a running Kelvane that more than one scenario makes.
void check_layout(App& app);
void check_longest_report_fits(App& app);

}  // namespace e2e
