#pragma once

// Floating-point states a caller can leave the thread in, for tests that
// call the model in them: "default", "ftz-daz" (flush-to-zero with
// denormals-are-zero), "upward", "downward", "toward-zero" and "traps"
// (invalid operation and division by zero). C linkage, so that the Python
// tests can load it through ctypes.

#ifdef __cplusplus
extern "C" {
#endif

// Enters the named state: 1 if the processor is now in it, 0 if it cannot
// enter it (the thread is then back in the default state), -1 for an
// unknown name.
int caller_state_enter(const char* name);

// Back to the default state, exception flags cleared.
void caller_state_leave(void);

// The thread's floating-point control state (not its flags), as one number
// to compare.
unsigned long long caller_state_control(void);

#ifdef __cplusplus
}
#endif
