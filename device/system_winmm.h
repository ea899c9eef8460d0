// winmm.dll from the system folder only: a winmm.dll lying beside the exe (a
// Downloads folder, say) must never run inside it. Module1, the tone
// player and the recorder each bind their entries from it, on first use.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include "win32/system_library.h"

// Null when it could not be loaded.
HMODULE LoadWinmmFromSystemFolder();

// Loads winmm.dll into module on the first call only; a failed load is not retried, since the
// answer would not change while the program runs. True when it has just loaded, for the caller
// to bind its entries.
bool LoadWinmmOnce(bool& tried, ScopedModule& module);

// 16-bit PCM at the test tone's rate, the one format the program plays and records.
WAVEFORMATEX ToneRateFormat(WORD channels);

// When winmm has no text for an error: its number at least, cut to size characters.
void ErrorNumberText(UINT error, wchar_t* text, UINT size);
