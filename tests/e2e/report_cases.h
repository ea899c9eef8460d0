// Devices whose report reports() checks in one Kelvane process, press after press.
#pragma once

#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

struct ReportCase {
    const wchar_t* name;
    unsigned rc;
    std::string bytes;
    Lines want;
};

// Records a working driver sends.
std::vector<ReportCase> ordinary_record_cases();
// What a faulty driver could send.
std::vector<ReportCase> faulty_driver_cases();

}  // namespace e2e
