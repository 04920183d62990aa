#pragma once

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
//   throwing) goes back into stdio's buffer for a later flush.
// - Throws std::system_error with the errno if a write fails, its message
//   saying how many of the unit's bytes were written when some were, and
//   std::runtime_error if on_interrupt calls it again on the same thread.
// A forked child's unit leaves out the output that its parent had pending at
// the fork: that belongs to the parent, which writes it.
void write_to_standard_output(const std::string& text, void (*on_interrupt)() = nullptr);

}  // namespace trendfit
