// Putting text on the clipboard without ever blocking the window for long:
// another program may hold the clipboard open.
#pragma once

#include <windows.h>

#include <string>

// All of the text as CF_UNICODETEXT, or nothing at all; false when the
// clipboard stayed busy or memory ran out, with the clipboard left as it was.
bool CopyTextToClipboard(HWND owner, const std::u16string& text);
