#include "guard_resume.h"

void resume_at(CONTEXT* context, void (*landing)()) {
  // As if called: a return address slot below the faulting stack pointer.
  context->Esp -= sizeof(DWORD);
  context->Eip = reinterpret_cast<DWORD>(landing);
}
