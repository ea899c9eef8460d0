// Picture1 as a screen reader meets it: read-only text named 报告 whose value is the report, lines
// joined by CR LF as a copy gives them. Everything else (where it is, its parent, whether it has
// the focus) is the system's standard object for the window, which this one wraps.
#pragma once

#include "win32/accessibility.h"

IAccessible* WrapReportObject(HWND surface, ComRef<IAccessible> standard,
                              AllocStringFn allocString);
