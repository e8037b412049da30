// The worker thread's routine: the whole extraction, then the teardown that ends the dialog.
#pragma once

#include "win_api.h"

DWORD WINAPI extraction_worker(LPVOID dialog);
