// The DPI a window is shown at. Per-monitor APIs are looked up at run time
// so the exe still starts on systems that lack them.
#pragma once

#include <windows.h>

UINT WindowDpi(HWND window);

// Asks for per-monitor awareness in code as well; the manifest is what
// counts, so a refusal (older systems, some Wine versions) is harmless.
void DeclarePerMonitorDpiAwareness();

// Frame size for a wanted client size at a DPI.
RECT WindowRectForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, UINT dpi);
