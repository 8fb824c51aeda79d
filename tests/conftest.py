import gc
import os
import sys

import pytest


SANITIZED = os.environ.get("VORN_SANITIZED") == "1"


def _rss_bytes():
    with open("/proc/self/statm") as f:
        pages = int(f.read().split()[1])
    return pages * os.sysconf("SC_PAGE_SIZE")


@pytest.fixture
def no_leak():
    """Calls fn(*args) many times; fails if the arguments' reference counts
    or the process's resident memory grow."""

    def check(fn, *args, calls=100_000, expect=None, **kwargs):
        def once():
            try:
                fn(*args, **kwargs)
            except BaseException as exc:  # error paths must not leak either
                if expect is None or not isinstance(exc, expect):
                    raise

        for _ in range(1000):
            once()
        gc.collect()
        before_refs = [sys.getrefcount(a) for a in args] + [sys.getrefcount(v) for v in kwargs.values()]
        before_rss = _rss_bytes()
        for _ in range(calls):
            once()
        gc.collect()
        after_refs = [sys.getrefcount(a) for a in args] + [sys.getrefcount(v) for v in kwargs.values()]
        assert after_refs == before_refs
        # Under AddressSanitizer freed memory sits in quarantine, so resident
        # size says nothing there; reference counts still do.
        if not SANITIZED:
            assert _rss_bytes() - before_rss < 4 * 1024 * 1024

    return check
