// The capability query of device 0 against the real winmm.dll, with the
// system ANSI code page for the device name.
#pragma once

#include "device/Module1.h"
#include "device/device_caps.h"

kelvane::DeviceCaps QueryDevice0(Module1& winmm);
