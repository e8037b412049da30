// On the simulated Windows there is no DLL search to narrow and no DLL to load.
#include "system_dlls.h"

void restrict_dll_search() {}

void init_common_controls(const INITCOMMONCONTROLSEX* controls) { InitCommonControlsEx(controls); }
