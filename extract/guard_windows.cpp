// The worker guard on Windows. GCC has no __try/__except, so a processor fault on the guarded
// thread is caught by an exception handler that makes the thread resume in a landing function,
// which jumps back to run_guarded. The worker's state lives in memory the jump leaves alone.
#include "worker_guard.h"
#include "guard_resume.h"

namespace {

void* fault_jump[5];
DWORD guarded_thread;
volatile LONG guard_active;

const DWORD DATATYPE_MISALIGNMENT = 0x80000002;

// Errors raised by the processor or the system (severity "error"), not software exceptions
// such as the ones C++ throws, debug output or breakpoints.
bool is_fault(DWORD code) { return (code & 0xF0000000u) == 0xC0000000u || code == DATATYPE_MISALIGNMENT; }

[[noreturn]] void land_after_fault() { __builtin_longjmp(fault_jump, 1); }

LONG WINAPI on_exception(EXCEPTION_POINTERS* info) {
  if (!guard_active || GetCurrentThreadId() != guarded_thread || !is_fault(info->ExceptionRecord->ExceptionCode)) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  guard_active = 0;
  resume_at(info->ContextRecord, land_after_fault);
  return EXCEPTION_CONTINUE_EXECUTION;
}

using AddHandler = PVOID(WINAPI*)(ULONG, PVECTORED_EXCEPTION_HANDLER);

// Vectored handlers see a fault before any frame does. Windows 2000 has none; there the
// top-level filter catches what no frame handles, which on the worker thread is every fault.
void install_handler_once() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  auto add = reinterpret_cast<AddHandler>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "AddVectoredExceptionHandler")));
  if (add) {
    add(1, on_exception);
  } else {
    SetUnhandledExceptionFilter(on_exception);
  }
}

}  // namespace

int run_guarded(int (*body)(void*), void* arg, int on_fault) {
  install_handler_once();
  guarded_thread = GetCurrentThreadId();
  if (__builtin_setjmp(fault_jump)) return on_fault;
  guard_active = 1;
  const int result = body(arg);
  guard_active = 0;
  return result;
}
