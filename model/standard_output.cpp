#include "model/standard_output.hpp"

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

// glibc loses what stdio holds when a flush fails, EINTR included, so there
// the pending bytes are taken out of stdout's buffer and written with the
// report. Elsewhere (or with TRENDFIT_PORTABLE_STDIO) stdio flushes them itself.
#if defined(__GLIBC__) && !defined(TRENDFIT_PORTABLE_STDIO)
#define TRENDFIT_TAKES_PENDING_STDIO 1
#include <stdio_ext.h>
#else
#define TRENDFIT_TAKES_PENDING_STDIO 0
#endif

namespace trendfit {
namespace {

using InterruptHandler = void (*)();

// Runs on_interrupt (which may throw to give up) after a signal.
void on_signal(InterruptHandler on_interrupt) {
    if (on_interrupt != nullptr) on_interrupt();
}

[[noreturn]] void fail_to_write(int error, std::size_t written, std::size_t size) {
    std::string message = "summary could not write the report to standard output";
    if (written > 0) message += "; " + std::to_string(written) + " of " + std::to_string(size) + " bytes were written";
    throw std::system_error(error != 0 ? error : EIO, std::generic_category(), message);
}

// Hands what C stdio holds for stdout to file descriptor 1 through stdio.
void flush_c_stdout(InterruptHandler on_interrupt) {
    for (;;) {
        errno = 0;
        if (std::fflush(stdout) == 0) return;
        const int error = errno;
        std::clearerr(stdout);  // so that a later report can write again
        if (error != EINTR) fail_to_write(error, 0, 0);
        on_signal(on_interrupt);
    }
}

#if TRENDFIT_TAKES_PENDING_STDIO

// Holds stdio's own lock of stdout, so that no other thread's printf moves
// its buffer meanwhile.
class StdoutLocked {
public:
    StdoutLocked() { flockfile(stdout); }
    ~StdoutLocked() { funlockfile(stdout); }
    StdoutLocked(const StdoutLocked&) = delete;
    StdoutLocked& operator=(const StdoutLocked&) = delete;
};

// Puts bytes back in front of what stdio holds for stdout, so that a later
// flush writes them, in their place. Where both do not fit in its buffer, the
// held bytes are taken out and the older then the newer handed to stdio,
// which writes what it must. (Only a byte-oriented stdout has bytes put back:
// take_pending_output takes none from a wide one.)
void put_back_pending_output(const char* data, std::size_t size) {
    if (size == 0) return;
    FILE* const out = stdout;
    const StdoutLocked locked;
    char* const base = out->_IO_write_base;
    const std::size_t held = base != nullptr ? static_cast<std::size_t>(out->_IO_write_ptr - base) : 0;
    if (base != nullptr && static_cast<std::size_t>(out->_IO_buf_end - base) >= held + size) {
        std::memmove(base + size, base, held);
        std::memcpy(base, data, size);
        out->_IO_write_ptr = base + held + size;
        return;
    }
    std::string newer;
    try {
        newer.assign(base, held);
    } catch (const std::bad_alloc&) {
        std::fwrite(data, 1, size, out);  // every byte kept, if not their order
        return;
    }
    __fpurge(out);
    std::fwrite(data, 1, size, out);
    std::fwrite(newer.data(), 1, newer.size(), out);
}

// Takes what stdio holds for stdout out of its buffer. Wide-oriented stdout
// keeps its text in a buffer of wide characters: stdio flushes that one itself.
std::string take_pending_output(InterruptHandler on_interrupt) {
    FILE* const out = stdout;
    if (out->_mode > 0) {
        flush_c_stdout(on_interrupt);
        return {};
    }
    std::string taken;
    const StdoutLocked locked;
    if (const std::size_t size = __fpending(out); size > 0) {
        taken.assign(out->_IO_write_base, size);
        __fpurge(out);
    }
    return taken;
}
#else
std::string take_pending_output(InterruptHandler on_interrupt) {
    flush_c_stdout(on_interrupt);
    return {};
}
void put_back_pending_output(const char*, std::size_t) {}
#endif

std::ptrdiff_t write_some(const char* data, std::size_t size) { return ::write(1, data, size); }

int poll_until_writable() {
    pollfd standard_output{1, POLLOUT, 0};
    return ::poll(&standard_output, 1, -1) < 0 ? -1 : 0;
}

detail::StandardOutputCalls calls_in_use{&write_some, &poll_until_writable, &take_pending_output,
                                         &put_back_pending_output};

// Waits until a non-blocking descriptor 1 takes more bytes.
void wait_until_writable(InterruptHandler on_interrupt, std::size_t written, std::size_t size) {
    while (calls_in_use.wait_until_writable() < 0) {
        if (errno != EINTR) fail_to_write(errno, written, size);
        on_signal(on_interrupt);
    }
}

// Writes unit[written...] and counts in `written` what went out, so that a
// caller that is unwound still knows.
void write_unit(const std::string& unit, std::size_t& written, InterruptHandler on_interrupt) {
    while (written < unit.size()) {
        const std::ptrdiff_t count = calls_in_use.write(unit.data() + written, unit.size() - written);
        if (count >= 0) {
            written += static_cast<std::size_t>(count);
            continue;
        }
        const int error = errno;
        if (error == EINTR) {
            on_signal(on_interrupt);
        } else if ((error == EAGAIN || error == EWOULDBLOCK) && written > 0) {
            wait_until_writable(on_interrupt, written, unit.size());
        } else {
            fail_to_write(error, written, unit.size());
        }
    }
}

// Locking: how units from several threads, signal handlers, forked children
// and an ending interpreter stay whole and never hang. All of it is here.
//
// - write_to_standard_output holds standard_output_lock for a whole unit:
//   taking C stdio's pending bytes, every write and wait, and putting bytes
//   back after a failure. So two units never interleave. stdio's own lock of
//   stdout (StdoutLocked) is taken only within it, while stdout's buffer is
//   read or refilled, never across a write (but for the rare put-back that
//   hands more than its buffer holds to fwrite, which writes itself).
// - on_interrupt runs with the lock held. The Python module's runs Python's
//   signal handlers and so takes the interpreter lock; its summary() lets go
//   of the interpreter lock before it calls in here. The order is therefore
//   always this lock, then the interpreter's: no thread waits for this one
//   while it holds the interpreter's.
// - A handler that asks for another report on the writing thread would wait
//   for the lock that its own thread holds: writing_on_this_thread makes that
//   call throw std::runtime_error instead. A handler that waits for another
//   thread's report still hangs, and one that forks hands its child a renewed
//   lock that the writing scope then unlocks; neither is worth a second lock.
// - A process forked while another thread writes would inherit the lock held
//   by a thread that does not exist in the child, and hang at its first
//   report: the fork handler gives the child a fresh lock.
// - At interpreter exit CPython ends a daemon thread that asks for the
//   interpreter lock (in on_interrupt) by unwinding its stack, glibc's forced
//   unwind. It passes through write_to_standard_output as an exception
//   would: pending bytes not written go back, the flag is cleared and the
//   lock released. The module's summary() rethrows abi::__forced_unwind from
//   its catch-all, which would otherwise end the process with an abort.
std::mutex standard_output_lock;
thread_local bool writing_on_this_thread = false;

void prepare_child_after_fork() { new (&standard_output_lock) std::mutex; }
[[maybe_unused]] const int prepared_after_fork = pthread_atfork(nullptr, nullptr, &prepare_child_after_fork);

// Clears writing_on_this_thread when the unit is done, however it ends.
struct WritingOnThisThread {
    WritingOnThisThread() { writing_on_this_thread = true; }
    ~WritingOnThisThread() { writing_on_this_thread = false; }
    WritingOnThisThread(const WritingOnThisThread&) = delete;
    WritingOnThisThread& operator=(const WritingOnThisThread&) = delete;
};

}  // namespace

detail::StandardOutputCalls& detail::standard_output_calls() { return calls_in_use; }

void write_to_standard_output(const std::string& text, void (*on_interrupt)()) {
    if (writing_on_this_thread) throw std::runtime_error("summary called again while its report is being written");
    const std::lock_guard<std::mutex> hold(standard_output_lock);
    const WritingOnThisThread writing;

    const std::string pending = calls_in_use.take_pending(on_interrupt);
    std::string joined;
    if (!pending.empty()) joined = pending + text;
    const std::string& unit = pending.empty() ? text : joined;
    std::size_t written = 0;
    try {
        write_unit(unit, written, on_interrupt);
    } catch (...) {
        if (written < pending.size()) calls_in_use.put_back(pending.data() + written, pending.size() - written);
        throw;
    }
}

}  // namespace trendfit
