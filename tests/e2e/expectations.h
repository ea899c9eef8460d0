// The device the test winmm.dll serves, and what Kelvane should say and print about it.
#pragma once

#include <string>

#include "harness.h"

namespace e2e {

// The message box's text with and without a device.
extern const std::wstring kFound, kNotFound;

// The 52-byte little-endian record Kelvane asks winmm for.
std::string record(const std::string& name, int pid, int mid, int version, int formats,
                   int channels, int support);
// What the test winmm.dll serves from now on: count devices, and for the capability query these
// bytes written and rc returned; a tone's open refused with open_rc unless it is 0.
void serve_device(unsigned count, unsigned rc, const std::string& bytes, unsigned open_rc = 0);

// The name Kelvane should show for 32 raw bytes: what the ANSI code page makes of them, cut at
// the first NUL and at 32 characters.
std::wstring acp_name(const std::string& bytes);

Lines operator+(Lines a, const Lines& b);
// The report's first six lines, up to the formats heading.
Lines header(const std::wstring& name, const std::wstring& pid, const std::wstring& mid,
             const std::wstring& version, const std::wstring& channels);

extern const Lines kAllFormats, kAllFeatures;
// The features heading with no feature under it.
extern const Lines kNoFlags;
extern const Lines kSpeakers, kWorked;
extern const std::string kWorkedRecord;

}  // namespace e2e
