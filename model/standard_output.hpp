#pragma once

#include <cstddef>
#include <string>

namespace trendfit {

// Writes text to file descriptor 1 in full, preceded by whatever C stdio
// still holds for stdout, so that earlier C output keeps its place and
// nothing is left in any buffer. That pending output and the text are one
// unit, written exactly once:
// - Two calls never interleave their units (how: "Locking" in standard_output.cpp).
// - A signal that interrupts a write or a wait calls on_interrupt (if given),
//   which may throw to give up; otherwise the write carries on.
// - A short write continues with the rest. On a non-blocking descriptor a
//   unit of which nothing could be written fails with EAGAIN; once part of it
//   is out, the rest is waited for, so a unit is never cut by EAGAIN.
// - Pending C output that could not be written (a failure, or on_interrupt
//   throwing) goes back in front of what stdio holds by then, for a later
//   flush: older output stays before newer.
// - Throws std::system_error with the errno if a write fails, its message
//   saying how many of the unit's bytes were written when some were, and
//   std::runtime_error if on_interrupt calls it again on the same thread.
// A forked child's unit holds what its own C stdio holds, output its parent
// had pending at the fork included, as any fflush in the child would write.
void write_to_standard_output(const std::string& text, void (*on_interrupt)() = nullptr);

namespace detail {

// The calls write_to_standard_output makes to the system and to C stdio, in
// one place, so that tests can play interrupted, short, refused and failed
// writes through them.
struct StandardOutputCalls {
    // write(2) to descriptor 1: the count written, or -1 with errno set.
    std::ptrdiff_t (*write)(const char* data, std::size_t size);
    // Waits until descriptor 1 takes more bytes: 0, or -1 with errno set.
    int (*wait_until_writable)();
    // What C stdio holds for stdout, taken out of its buffer; or, where stdio
    // flushes it itself, an empty string after that flush (on_interrupt runs
    // after a signal, as for the writes).
    std::string (*take_pending)(void (*on_interrupt)());
    // Puts pending bytes that were not written back in front of stdio's buffer.
    void (*put_back)(const char* data, std::size_t size);
};

// The calls in use, which a test may replace (and must restore).
StandardOutputCalls& standard_output_calls();

}  // namespace detail

}  // namespace trendfit
