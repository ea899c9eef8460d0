// What wmain runs: the scenarios, and the other modes.
#pragma once

#include <string>

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

// --bench-startup and --bench-latency: figures, not checks.
void bench_startup(int runs, const std::wstring& bare);
void bench_latency(int runs);

// --show: the worked example on screen, or pictures of it saved in dir.
void show(const std::wstring& dir);

}  // namespace e2e
