// The report of a system error to the user.
#pragma once

// Shows "failed with error N: " and the system's text for the calling thread's last error code in a
// box captioned "Error", with no owner; returns when the user has dismissed it. Call it directly
// after the call that failed.
void report_last_error();
