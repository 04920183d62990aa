// Plays interrupted, short, refused and failed writes through the calls that
// write_to_standard_output makes, and checks what reaches the descriptor,
// what goes back into stdio's buffer and what is thrown. Prints each case
// that goes wrong and exits non-zero if any does.

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <stdexcept>
#include <string>
#include <system_error>

#include "model/standard_output.hpp"

namespace {

using trendfit::detail::StandardOutputCalls;

// One step of a script: a call that takes up to `accepts` bytes, or fails with `error`.
struct Step {
    std::size_t accepts = 0;
    int error = 0;
};
Step take(std::size_t bytes) { return {bytes, 0}; }
Step fail(int error) { return {0, error}; }

// The system as a case plays it.
struct Scene {
    std::string pending;      // what C stdio holds when the report starts
    std::deque<Step> writes;  // beyond the script every write takes all
    std::deque<int> waits;    // errno of each failing wait; beyond it waits succeed
    bool handler_throws = false;
    std::string handler_prints;  // C output the handler makes before it returns or throws
    std::string delivered, put_back;
    int interrupts = 0, waited = 0;
};
Scene scene;
char stdio_buffer[256];  // glibc writes around a buffer of under 128 bytes

std::ptrdiff_t scripted_write(const char* data, std::size_t size) {
    Step step = scene.writes.empty() ? take(size) : scene.writes.front();
    if (!scene.writes.empty()) scene.writes.pop_front();
    if (step.error != 0) {
        errno = step.error;
        return -1;
    }
    const std::size_t count = step.accepts < size ? step.accepts : size;
    scene.delivered.append(data, count);
    return static_cast<std::ptrdiff_t>(count);
}

int scripted_wait() {
    ++scene.waited;
    if (scene.waits.empty()) return 0;
    errno = scene.waits.front();
    scene.waits.pop_front();
    return -1;
}

std::string scripted_pending(void (*)()) { return scene.pending; }
void scripted_put_back(const char* data, std::size_t size) { scene.put_back.append(data, size); }

struct HandlerRaised {};
void on_interrupt() {
    ++scene.interrupts;
    std::fputs(scene.handler_prints.c_str(), stdout);
    if (scene.handler_throws) throw HandlerRaised{};
}

// The outcome of one report: "" when it returned, else what was thrown.
std::string outcome_of(const std::string& text) {
    try {
        trendfit::write_to_standard_output(text, &on_interrupt);
        return "";
    } catch (const std::system_error& error) {
        return "errno " + std::to_string(error.code().value()) + ": " + error.what();
    } catch (const HandlerRaised&) {
        return "handler raised";
    }
}

int failures = 0;
void expect(bool holds, const char* name, const std::string& detail) {
    if (holds) return;
    std::printf("%s: %s\n", name, detail.c_str());
    ++failures;
}

struct Expected {
    std::string delivered, put_back;
    std::string outcome_starts;  // "" for a normal return
    const char* outcome_has = "";
    int interrupts = 0, waited = 0;
};

void play(const char* name, Scene setting, const Expected& expected) {
    scene = std::move(setting);
    const std::string outcome = outcome_of("REPORT");
    expect(scene.delivered == expected.delivered, name, "delivered \"" + scene.delivered + "\"");
    expect(scene.put_back == expected.put_back, name, "put back \"" + scene.put_back + "\"");
    expect(outcome.compare(0, expected.outcome_starts.size(), expected.outcome_starts) == 0 &&
               (expected.outcome_starts.empty() == outcome.empty()) &&
               outcome.find(expected.outcome_has) != std::string::npos,
           name, "outcome \"" + outcome + "\"");
    const bool counted = outcome.find("bytes were written") != std::string::npos;
    expect(counted == (std::string(expected.outcome_has).find("bytes were written") != std::string::npos), name,
           "the count of bytes written, in \"" + outcome + "\"");
    expect(scene.interrupts == expected.interrupts, name, "interrupts " + std::to_string(scene.interrupts));
    expect(scene.waited == expected.waited, name, "waits " + std::to_string(scene.waited));
}

// What stdio writes to descriptor 1 while `run` runs and at the flush after it.
template <typename Run>
std::string written_to_descriptor_1(Run run) {
    std::fflush(stdout);
    const int saved = dup(1);
    FILE* const capture = std::tmpfile();
    dup2(fileno(capture), 1);
    run();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string written(static_cast<std::size_t>(std::ftell(capture)), '\0');
    std::rewind(capture);
    written.resize(std::fread(written.data(), 1, written.size(), capture));
    std::fclose(capture);
    return written;
}

// A handler prints, then raises: the report's pending output goes back into
// stdio's real buffer before the handler's, whether or not both fit in it.
void play_put_back_order(const char* name, StandardOutputCalls& calls, const StandardOutputCalls& real,
                         std::size_t older, std::size_t newer) {
    calls.put_back = real.put_back;
    Scene setting{std::string(older, 'o'), {fail(EINTR)}, {}, true};
    setting.handler_prints.assign(newer, 'n');
    const std::string written = written_to_descriptor_1([&] {
        play(name, std::move(setting), {"", "", "handler raised", "", 1});
    });
    expect(written == std::string(older, 'o') + std::string(newer, 'n'), name, "written \"" + written + "\"");
    calls.put_back = &scripted_put_back;
}

}  // namespace

int main() {
    // Before any output: a buffer small enough for the cases to overfill.
    std::setvbuf(stdout, stdio_buffer, _IOFBF, sizeof stdio_buffer);
    StandardOutputCalls& calls = trendfit::detail::standard_output_calls();
    const StandardOutputCalls real = calls;
    calls = {&scripted_write, &scripted_wait, &scripted_pending, &scripted_put_back};

    const std::string unit = "CCCCREPORT";
    play("short writes", {"CCCC", {take(3), take(1), take(2)}}, {unit, ""});
    play("interrupted before any byte", {"CCCC", {fail(EINTR)}}, {unit, "", "", "", 1});
    play("handler raises with C output half written", {"CCCC", {take(2), fail(EINTR)}, {}, true},
         {"CC", "CC", "handler raised", "", 1});
    play("refused with nothing written", {"CCCC", {fail(EAGAIN)}},
         {"", "CCCC", "errno " + std::to_string(EAGAIN), "standard output:"});
    play("refused after a part", {"CCCC", {take(5), fail(EAGAIN)}}, {unit, "", "", "", 0, 1});
    play("wait interrupted", {"CCCC", {take(1), fail(EAGAIN)}, {EINTR}}, {unit, "", "", "", 1, 2});
    play("failed after a part", {"CCCC", {take(3), fail(EFBIG)}},
         {"CCC", "C", "errno " + std::to_string(EFBIG), "3 of 10 bytes were written"});
    play("failed wait", {"", {take(2), fail(EAGAIN)}, {EBADF}},
         {"RE", "", "errno " + std::to_string(EBADF), "2 of 6 bytes were written", 0, 1});
    play("failed with nothing written", {"", {fail(EPIPE)}}, {"", "", "errno " + std::to_string(EPIPE)});
    play_put_back_order("put back in front, within stdio's buffer", calls, real, 100, 120);
    play_put_back_order("put back in front, beyond stdio's buffer", calls, real, 200, 120);

    calls = real;
    return failures == 0 ? 0 : 1;
}
