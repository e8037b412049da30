#include "guard_resume.h"

void resume_at(CONTEXT* context, void (*landing)()) {
  // A function is entered with the stack 8 bytes below a 16-byte boundary, as after a call.
  context->Rsp = (context->Rsp & ~static_cast<DWORD64>(15)) - 8;
  context->Rip = reinterpret_cast<DWORD64>(landing);
}
