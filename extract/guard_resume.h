// Windows only: makes the faulting thread resume in landing, as if landing had been called where
// the fault happened. One implementation per processor, chosen in CMake.
#pragma once

#include "win_api.h"

void resume_at(CONTEXT* context, void (*landing)());
