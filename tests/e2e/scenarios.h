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
void glyphs();
void tone();
void loopback();
// --ui-fonts FILE: the UI fonts this process was given, for glyphs() to draw with.
bool write_ui_fonts(const std::wstring& file);
void legibility();
void copy_and_focus();
// --dpi: layout and the longest report again, run at each further DPI.
void dpi_layout();

// Checks on a running Kelvane that more than one scenario makes.
void check_layout(App& app);
void check_longest_report_fits(App& app);

// --bench-startup and --bench-latency: figures, not checks.
void bench_startup(int runs, const std::wstring& bare);
void bench_latency(int runs);

// --show-sample and --show-real: Kelvane on the test winmm.dll's worked example, or on Wine's
// own winmm. Without a dir it is left to the user; with one the button is pressed, what Kelvane
// said printed and pictures saved there. True when Kelvane behaved as designed.
bool show(const std::wstring& dir, bool sample);

// --real-audio: Kelvane over the sound server real_audio.sh started, with these sinks.
void real_audio(const std::wstring& scenario, const std::wstring& dir, const Lines& sinks);

}  // namespace e2e
