#pragma once

#include <string>

namespace trendfit {

// Writes text to file descriptor 1 in full, after flushing what C stdio holds
// for stdout so that earlier output keeps its place; nothing is left in any
// buffer. Two calls never interleave their texts. A write that a signal
// interrupts before any byte went out calls on_interrupt (if given), which may
// throw to give up, and is then retried; a short write continues with the
// rest. Throws std::system_error with the errno if a write fails, with
// stdout's error state cleared so that a later call can succeed, and
// std::runtime_error if on_interrupt calls it again on the same thread.
void write_to_standard_output(const std::string& text, void (*on_interrupt)() = nullptr);

}  // namespace trendfit
