#include "model/standard_output.hpp"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>

#if defined(_WIN32)
#include <io.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

namespace trendfit {
namespace {

// Held while a text goes to standard output, so that two never interleave.
std::mutex standard_output_lock;

#if !defined(_WIN32)
// A process forked while another thread writes would inherit the lock held
// by a thread that does not exist in the child, and hang at its first report:
// the child starts with a fresh lock instead.
void renew_standard_output_lock() { new (&standard_output_lock) std::mutex; }
[[maybe_unused]] const int renewed_after_fork = pthread_atfork(nullptr, nullptr, &renew_standard_output_lock);
#endif

[[noreturn]] void fail_to_write(int error) {
    std::clearerr(stdout);  // so that a later report can write again
    throw std::system_error(error != 0 ? error : EIO, std::generic_category(),
                            "summary could not write the report to standard output");
}

// After a call that failed with `error`: an interrupted one runs on_interrupt
// (which may throw to give up) and is then retried; any other fails.
void retry_if_interrupted(int error, void (*on_interrupt)()) {
    if (error != EINTR) fail_to_write(error);
    if (on_interrupt != nullptr) on_interrupt();
}

// Hands what C stdio holds for stdout to file descriptor 1.
void flush_c_stdout(void (*on_interrupt)()) {
    for (;;) {
        errno = 0;
        if (std::fflush(stdout) == 0) return;
        const int error = errno;
        std::clearerr(stdout);
        retry_if_interrupted(error, on_interrupt);
    }
}

// One write(2) to file descriptor 1: the count written, or -1 with errno set.
std::ptrdiff_t write_some(const char* data, std::size_t size) {
#if defined(_WIN32)
    constexpr std::size_t most = 1u << 30;
    return _write(1, data, static_cast<unsigned>(size < most ? size : most));
#else
    return ::write(1, data, size);
#endif
}

void write_all(const char* data, std::size_t size, void (*on_interrupt)()) {
    while (size > 0) {
        const std::ptrdiff_t written = write_some(data, size);
        if (written >= 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
            continue;
        }
        retry_if_interrupted(errno, on_interrupt);
    }
}

}  // namespace

void write_to_standard_output(const std::string& text, void (*on_interrupt)()) {
    // on_interrupt runs with the lock held. It may run code (a signal
    // handler) that asks for another report on this thread: refuse instead of
    // hanging. A handler that waits for another thread's report would still
    // hang, and one that forks hands the child a renewed lock that this scope
    // then unlocks; neither is worth a second lock.
    thread_local bool writing = false;
    if (writing) throw std::runtime_error("summary called again while its report is being written");
    const std::lock_guard<std::mutex> hold(standard_output_lock);
    struct ClearedOnExit {
        bool& flag;
        ~ClearedOnExit() { flag = false; }
    };
    writing = true;
    const ClearedOnExit cleared{writing};
    flush_c_stdout(on_interrupt);
    write_all(text.data(), text.size(), on_interrupt);
}

}  // namespace trendfit
