"""Runs CODE after this prelude: a fit; standard output turned into a pipe that a Python
thread drains (as ipykernel does), the timer signal blocked there so that it
interrupts the main thread's writes; or into a pipe that nobody reads.

    delivery.py CODE REPORT

REPORT, the report of the fit as written alone, is there for CODE as REPORT;
CAPFD_CHECK is the test file that checks that pytest's capfd captures it.
"""

import os
import pathlib
import signal
import sys
import textwrap
import threading
import time

from trendfit import LinearRegression

fit = LinearRegression([1.0, 2.0, 3.0], [2.0, 4.0, 6.0])
REPORT = sys.argv[2]
CAPFD_CHECK = pathlib.Path(__file__).with_name("capfd_check.py")


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


exec(compile(textwrap.dedent(sys.argv[1]), "CODE", "exec"))
