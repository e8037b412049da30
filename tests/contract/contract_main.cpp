// The platform contract as a program of its own: on the host it runs against the simulated
// Windows in its start state, on Windows (under Wine) against the real one.
#include "contract_checks.h"

int main() { return run_platform_contract() == 0 ? 0 : 1; }
