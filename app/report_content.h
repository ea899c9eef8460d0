// The report printed for device 0: five detail lines, then the supported
// formats and the optional features, each list under its heading.
#pragma once

#include <vector>

#include "device/device_caps.h"
#include "report/print_item.h"

namespace kelvane {

// Only bits 0-11 of dwFormats and bits 0-4 of dwSupport are looked at.
std::vector<PrintStatement> ComposeReport(const DeviceCaps& caps);

}  // namespace kelvane
