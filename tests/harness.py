"""Helpers shared by test files: running mypy on files of a test's own, and
interrupting a long call with Ctrl-C."""

import _thread
import os
import subprocess
import sys
import textwrap
import threading
import time

import pytest


def run_mypy(directory, *arguments):
    """mypy --strict on `arguments` (files, or -p PACKAGE), run in `directory`."""
    return subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--no-incremental",
            "--cache-dir",
            str(directory / "cache"),
            *arguments,
        ],
        capture_output=True,
        text=True,
        cwd=directory,
    )


def run_mypy_on(directory, source):
    """mypy --strict on `source` (dedented), written to example.py in `directory`."""
    (directory / "example.py").write_text(textwrap.dedent(source))
    return run_mypy(directory, "example.py")


def thread_count():
    return len(os.listdir("/proc/self/task"))


def assert_interrupted_quickly(job, delay=0.3, allowed=0.5):
    """Ctrl-C `delay` seconds into job() raises KeyboardInterrupt within
    `allowed` seconds more and leaves no thread behind."""
    before = thread_count()
    timer = threading.Timer(delay, _thread.interrupt_main)
    started = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        job()
        time.sleep(5)  # finished early: the interrupt still arrives here, and the test fails on time
    stopped = time.monotonic()
    timer.join()
    assert stopped - started < delay + allowed
    # A joined thread can still be leaving the kernel's task list for a
    # moment (longer under the sanitizers); one that was not joined stays.
    deadline = time.monotonic() + 2.0
    while thread_count() != before and time.monotonic() < deadline:
        time.sleep(0.01)
    assert thread_count() == before
