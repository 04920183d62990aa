"""Three times: points file descriptor 1 at a failing output, checks that summary()
raises the OSError that os.write would (saying how many bytes went out, when any
did), then points it at DIRECTORY/afterN.txt and writes a report there.

    failing_output.py OPENER ERRNO WRITTEN DIRECTORY X Y

OPENER names a function below that opens the failing output and gives its
descriptor (limited_file takes WRITTEN bytes). X and Y are floats as
helpers.floats_to_text writes them.
"""

import os
import resource
import sys

from helpers import floats_from_text
from trendfit import LinearRegression

opener, expected_errno, written, directory = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
unlimited = resource.getrlimit(resource.RLIMIT_FSIZE)


def full_disk():
    return os.open("/dev/full", os.O_WRONLY)


def broken_pipe():
    read_end, write_end = os.pipe()
    os.close(read_end)
    return write_end


def full_pipe():
    read_end, write_end = os.pipe()
    os.set_blocking(write_end, False)
    try:
        while True:
            os.write(write_end, bytes(4096))
    except BlockingIOError:
        return write_end


def limited_file():
    resource.setrlimit(resource.RLIMIT_FSIZE, (written, unlimited[1]))
    return os.open(os.path.join(directory, "limited.txt"), os.O_WRONLY | os.O_CREAT | os.O_TRUNC)


fit = LinearRegression(floats_from_text(sys.argv[5]), floats_from_text(sys.argv[6]))
for cycle in range(3):
    os.dup2(globals()[opener](), 1)
    try:
        fit.summary()
        raise SystemExit("the failed write was not reported")
    except OSError as error:
        assert error.errno == expected_errno and "summary" in str(error), error
        assert type(error) is type(OSError(expected_errno, "")), error  # as os.write raises it
        partly = f" {written} of " in str(error)  # how much of the report is out, when any is
        assert partly == bool(written) and str(error).count(" of ") == bool(written), error
    resource.setrlimit(resource.RLIMIT_FSIZE, unlimited)
    os.dup2(os.open(os.path.join(directory, f"after{cycle}.txt"), os.O_WRONLY | os.O_CREAT | os.O_TRUNC), 1)
    fit.summary()
os._exit(0)  # nothing may be left in a buffer for a normal exit to write
