// Platform contract: what the product relies on of Windows, checked against the real system
// under Wine and against our simulation on the host, from the same source.
#pragma once

// Runs every check in a fresh folder under the temp folder; prints each failure.
// Returns the number of failed checks.
int run_platform_contract();
