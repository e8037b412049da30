// Where the program's DLLs come from. Installers run from download folders full of other files,
// so nothing may be loaded from the program's own folder.
#pragma once

#include "win_api.h"

// Limits the DLL search to the system folder, by whichever means the running system has.
void restrict_dll_search();

// InitCommonControlsEx from comctl32.dll in the system folder. comctl32 is not a known DLL, so
// it is loaded by full path rather than imported. The result is not needed.
void init_common_controls(const INITCOMMONCONTROLSEX* controls);
