// The name the test winmm.dll gives its load marker, followed by the process id: shared by the
// DLL, which makes it, and the driver, which looks for it.
#pragma once

constexpr wchar_t kTestWinmmMarker[] = L"Local\\KelvaneTestWinmm.";
