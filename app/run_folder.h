// The run folder: a fresh folder under the temp folder, named for the tick count, that the files
// are copied into and the launch entry runs in.
#pragma once

#include "format_path.h"

// Forms run_folder as the temp folder, "Brimsole", the tick count in 8 upper-case hex digits and a
// backslash, and creates that folder. Failures of the temp path and of the creation are reported
// and the run goes on. Returns the length of run_folder: 0 when the path did not fit.
int create_run_folder();
