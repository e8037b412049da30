// The C++ half of the worker guard, shared by every build.
#pragma once

int call_catching_exceptions(int (*body)(void*), void* arg, int on_fault);
