import ctypes
import gc
import os
import sys

import pytest

SANITIZED = os.environ.get("VORN_SANITIZED") == "1"


class _MallocInfo(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in "arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks keepcost".split()
    ]


_libc = ctypes.CDLL(None)
_libc.mallinfo2.restype = _MallocInfo


def _heap():
    """Python objects alive, and bytes the C allocator has handed out (exact, unlike resident memory)."""
    info = _libc.mallinfo2()
    return sys.getallocatedblocks(), info.uordblks + info.hblkhd


@pytest.fixture
def no_leak():
    """Calls fn(*args, **kwargs) many times; fails if the arguments' reference
    counts, the number of Python objects or the C heap grow. A leak of one
    object or one allocation per call grows them by at least `calls`."""

    # MinHash keeps a per-thread scratch that grows a 256 KiB bitmap once its thread has signed
    # 8 KiB of text in short shingles: a one-time cost, which would show as growth if it fell
    # inside a measured loop of whichever test first signs that much (here, or in vornkit's
    # worker thread).
    import vorn

    vorn.minhash_signature("x" * 8192, 3, 1)
    try:
        import vornkit
    except ImportError:
        pass
    else:
        vornkit.extract("x" * 8192, ["x" * 8192], scorer=vorn.minhash_similarity_default)

    def check(fn, *args, calls=2_000, expect=None, **kwargs):
        def once():
            try:
                fn(*args, **kwargs)
            except BaseException as exc:  # error paths must not leak either
                if expect is None or not isinstance(exc, expect):
                    raise

        def refs():
            return [sys.getrefcount(a) for a in (*args, *kwargs.values())]

        for _ in range(200):
            once()
        gc.collect()
        before_refs, (before_objects, before_bytes) = refs(), _heap()
        for _ in range(calls):
            once()
        gc.collect()
        objects, heap_bytes = _heap()
        assert refs() == before_refs
        assert objects - before_objects < calls // 4
        # Under AddressSanitizer the allocator is replaced and freed memory sits in
        # quarantine; reference counts and Python objects still tell.
        if not SANITIZED:
            assert heap_bytes - before_bytes < 8 * calls

    return check
