"""UTF-8 validation of Arrow string arrays long enough for the vector
kernels: the one-pass read of the offsets and its fall-back to per-string
reading must give the same values, nulls and first bad position and fault.
The kernels themselves are checked byte by byte, on every instruction-set
level, by the core's C++ tests (tests/core/kernels_test.cpp)."""

import random

import numpy as np
import pytest
import vorn

import vornkit

EDGE_BYTES = bytes([0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1])
EDGE_BYTES += bytes([0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xF7, 0xF8, 0xFE, 0xFF])
# Characters of every length at the ends of its range, and around the surrogates.
CHARACTERS = ["a", "\x7f", "\x80", "é", "\u07ff", "\u0800", "中", "\ud7ff", "\ue000", "\uffff"]
CHARACTERS += ["\U00010000", "😀", "\U0010ffff"]


def valid(data):
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return True


def arrow_case(rng, pa, n, large):
    """Texts as buffers with random nulls, offset and one kind of damage; the
    values a correct reader gives, or the error class and message of the
    first bad one."""
    texts = ["".join(rng.choices(CHARACTERS + ["x"] * 8, k=rng.randrange(12))) for _ in range(n)]
    nulls = [rng.random() < 0.1 for _ in range(n)]
    data = bytearray()
    offsets = [0]
    for text, null in zip(texts, nulls):
        data += b"\xff\xc3" if null and rng.random() < 0.5 else text.encode()  # garbage under a null
        offsets.append(len(data))
    damage, i = rng.randrange(4), rng.randrange(1, n)
    if damage == 1 and data:
        data[rng.randrange(len(data))] = rng.choice(EDGE_BYTES)
    elif damage == 2:
        offsets[i] = min(offsets[i] + 1, offsets[i + 1])  # maybe inside a character
    elif damage == 3:
        offsets[i] = min(offsets[i + 1] + 1, offsets[n])  # out of order: only a null may have it
    offset = rng.randrange(n // 2)
    values, bad = [], None
    for k in range(offset, n):
        chunk = bytes(data[offsets[k] : offsets[k + 1]])
        if nulls[k]:
            values.append(None)
        elif offsets[k] > offsets[k + 1] or not valid(chunk):
            # A malformed array is a TypeError, bad text a ValueError.
            what = (TypeError, "has invalid offsets") if offsets[k] > offsets[k + 1] else (ValueError, "is not valid")
            bad = bad or (what[0], f"position {k - offset} {what[1]}")
        else:
            values.append(chunk.decode())
    validity = pa.py_buffer(np.packbits(~np.array(nulls), bitorder="little"))
    offsets = pa.py_buffer(np.array(offsets, dtype=np.int64 if large else np.int32))
    kind = pa.large_string() if large else pa.string()
    array = pa.Array.from_buffers(kind, n, [validity, offsets, pa.py_buffer(data)])
    return array.slice(offset), values, bad


@pytest.mark.parametrize("large", [False, True], ids=["utf8", "large_utf8"])
def test_arrow_reading_equals_per_string_decoding(large):
    pa = pytest.importorskip("pyarrow")
    rng = random.Random(5)
    for _ in range(150):
        array, values, bad = arrow_case(rng, pa, rng.randrange(2, 120), large)
        if bad is not None:
            with pytest.raises(bad[0], match=bad[1]):
                vornkit.cpdist(array, ["a"] * len(array), scorer=vorn.levenshtein_distance)
            continue
        # Read after a good chunk: a failed one-pass read must leave the first chunk's values alone.
        chunked = pa.chunked_array([pa.array(["é中"] * 40, array.type), array])
        expected = [0] * 40 + [-1 if v is None else 0 for v in values]
        got = vornkit.cpdist(chunked, ["é中"] * 40 + values, scorer=vorn.levenshtein_distance)
        assert got.tolist() == expected
