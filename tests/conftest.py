import gc
import sys

import pytest


def _rss_bytes():
    with open("/proc/self/statm") as f:
        pages = int(f.read().split()[1])
    import os

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
        assert _rss_bytes() - before_rss < 4 * 1024 * 1024

    return check
