// The guarded part of the worker: stages 0 to 7 and the hand-off to the launch.
#pragma once

#include "worker_state.h"

// Runs every stage in order; says where the worker goes next.
WorkerEnd run_stages(WorkerState* state);

// Takes the header copy from the merged data file in memory and checks the whole file before
// anything is written from it. Returns null when it is sound, else the error box's text.
const char* load_merged_header(WorkerState* state);
