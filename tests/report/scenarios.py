"""Runs SCENARIO, a function below, in which a fit writes its report to standard output:
after output printed by Python or by C, which must come before it; or with standard
output turned into a pipe that a Python thread drains (as ipykernel does), the timer
signal blocked there so that it interrupts the main thread's writes, or into a pipe that
nobody reads.

    scenarios.py SCENARIO [REPORT]

REPORT, the report of the fit as written alone, is what the capfd scenario expects.
"""

import contextlib
import ctypes
import io
import os
import pathlib
import shutil
import signal
import socket
import sys
import tempfile
import threading
import time

from trendfit import LinearRegression

fit = LinearRegression([1.0, 2.0, 3.0], [2.0, 4.0, 6.0])
libc = ctypes.CDLL(None)
printf = libc.printf


# ---------------------------------------------------------------------------
# Output printed before a report

class FlushFails:
    def write(self, text):
        return len(text)

    def flush(self):
        raise KeyError("flush")


class ClosedInterrupts(FlushFails):
    @property
    def closed(self):
        raise KeyboardInterrupt


def captured_sys_stdout():
    captured = io.StringIO()
    sys.stdout = captured
    assert fit.summary() is None
    sys.stdout = sys.__stdout__
    print("captured", len(captured.getvalue()))


def print_and_printf():
    for i in range(2):
        print(f"H{i}")
        printf(b"C%d\n", i)
        fit.summary()
        print(f"F{i}")


def no_sys_stdout():
    print("header")
    sys.stdout = None  # as in embedded interpreters
    fit.summary()
    sys.stdout = sys.__stdout__
    print("footer")


def redirected_sys_stdout():
    print("header")
    with contextlib.redirect_stdout(io.StringIO()):
        fit.summary()
    print("footer")


def sys_stdout_rewrapped():
    print("header")
    sys.stdout = io.TextIOWrapper(sys.__stdout__.buffer)
    print("middle")
    fit.summary()
    sys.stdout.flush()


def partial_lines():
    print("P", end="")
    printf(b"C")
    fit.summary()
    print("after")


def closed_sys_stdout():
    sys.stdout.close()
    try:
        fit.summary()
    except ValueError:
        os.write(1, b"closed")


def flush_raises():
    sys.stdout = FlushFails()
    try:
        fit.summary()
    except KeyError:
        os.write(1, b"raised")
    sys.stdout = sys.__stdout__


def original_stdout_flush_raises():
    sys.__stdout__ = ClosedInterrupts()  # asking whether it is closed is interrupted
    try:
        fit.summary()
    except KeyboardInterrupt:
        os.write(1, b"interrupted ")
    sys.__stdout__ = FlushFails()
    try:
        fit.summary()
    except KeyError:
        os.write(1, b"raised")


# ---------------------------------------------------------------------------
# Reports on a pipe drained by a thread, on one that nobody reads, and across forks

def drain_standard_output(pause, full_for=0):
    read_end, write_end = os.pipe()
    saved, chunks = os.dup(1), []
    os.dup2(write_end, 1)
    os.close(write_end)
    if full_for:  # the pipe starts full and is read only after full_for seconds
        os.set_blocking(1, False)
        try:
            while True:
                os.write(1, bytes(4096))
        except BlockingIOError:
            os.set_blocking(1, True)

    def drain():
        signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGALRM})
        time.sleep(full_for)
        while chunk := os.read(read_end, 4096):
            chunks.append(chunk)
            time.sleep(pause)
    reader = threading.Thread(target=drain)
    reader.start()

    def finish():
        os.dup2(saved, 1)  # closes the pipe's write end: the reader sees the end
        reader.join()
        os.write(1, b"".join(chunks))
    return finish




def fork_while_another_thread_writes():
    saved = os.dup(1)
    os.dup2(os.pipe()[1], 1)  # never read: the other thread's writes soon block
    threading.Thread(target=lambda: [fit.summary() for _ in iter(int, 1)], daemon=True).start()
    time.sleep(0.5)
    pid = os.fork()  # while that thread holds the report lock
    if pid == 0:
        os.dup2(saved, 1)
        fit.summary()
        os._exit(0)
    os.dup2(saved, 1)
    assert os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) == 0
    os._exit(0)


def daemon_threads_writing_at_exit():
    os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
    for _ in range(4):  # still writing when the interpreter ends them
        threading.Thread(target=lambda: [fit.summary() for _ in iter(int, 1)], daemon=True).start()
    time.sleep(0.1)


def capfd():
    """pytest's capfd captures the report (capfd_check.py, run by pytest in a scratch directory)."""
    import pytest  # only here: the other scenarios run without it loaded

    os.environ["EXPECTED_REPORT"] = sys.argv[2]
    with tempfile.TemporaryDirectory() as directory:
        test = shutil.copy(pathlib.Path(__file__).with_name("capfd_check.py"), os.path.join(directory, "test_capfd.py"))
        assert pytest.main(["-q", "-p", "no:cacheprovider", test]) == 0


def timer_signals():
    alarms = []
    signal.signal(signal.SIGALRM, lambda *_: alarms.append(1))
    signal.setitimer(signal.ITIMER_REAL, 0.05, 0.05)
    finish = drain_standard_output(0.02)
    for _ in range(600):
        fit.summary()
    signal.setitimer(signal.ITIMER_REAL, 0)
    finish()
    assert len(alarms) >= 3, alarms


def c_output_kept_when_a_handler_raises():
    def interrupt(*_):
        raise KeyboardInterrupt
    signal.signal(signal.SIGALRM, interrupt)
    finish = drain_standard_output(0, full_for=1.0)
    printf(b"%s", b"c" * 3000)
    signal.setitimer(signal.ITIMER_REAL, 0.3)
    try:
        fit.summary()
        raise AssertionError("the handler's exception was lost")
    except KeyboardInterrupt:  # with the C output back in stdio's buffer
        fit.summary()
    finish()


def parents_c_output_twice_after_a_forked_childs_report():
    printf(b"pending at the fork\n")
    pid = os.fork()
    if pid == 0:  # writes what its C stdio holds, as any flush in the child would
        fit.summary()
        os._exit(0)
    assert os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) == 0


def forked_childs_own_c_output_kept():
    printf(b"Loading...\nProgress: ")
    pid = os.fork()
    if pid == 0:  # the child's own output, though it repeats its parent's, is kept
        libc.fflush(None)
        printf(b"Loading...\nProgress: child 100%%\n")
        fit.summary()
        os._exit(0)
    assert os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) == 0


def non_blocking_socket_read_slowly():
    read_end, write_end = os.pipe()
    saved = os.dup(1)
    os.dup2(write_end, 1)
    fit.summary()
    os.dup2(saved, 1)
    one = os.read(read_end, 4096)
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    server.bind(("127.0.0.1", 0))
    server.listen()
    sender = socket.socket()
    sender.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4096)
    sender.connect(server.getsockname())
    receiver, received = server.accept()[0], []

    def read_slowly():
        time.sleep(0.3)  # until the socket is full: the last report that fitted went out in part
        while chunk := receiver.recv(100):
            received.append(chunk)
            time.sleep(0.002)
    reader = threading.Thread(target=read_slowly)
    reader.start()
    sender.setblocking(False)
    os.dup2(sender.fileno(), 1)
    line, refused = b"c" * 599 + b"\n", 0
    for _ in range(100):
        printf(b"%s", line)  # held by C stdio: written with the report, as one unit
        while True:
            try:
                fit.summary()
                break
            except BlockingIOError:  # nothing of the unit went out
                refused += 1
                time.sleep(0.001)
    os.dup2(saved, 1)
    sender.close()
    reader.join()
    assert b"".join(received) == (line + one) * 100 and refused > 0, refused


def report_asked_for_by_a_handler_while_blocked():
    os.dup2(os.pipe()[1], 1)  # never read: the writes soon block
    signal.signal(signal.SIGALRM, lambda *_: fit.summary())
    signal.setitimer(signal.ITIMER_REAL, 0.3)
    try:
        while True:
            fit.summary()
    except RuntimeError as error:
        assert "again" in str(error), error


globals()[sys.argv[1]]()
