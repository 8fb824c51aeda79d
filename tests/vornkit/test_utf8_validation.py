"""UTF-8 validation on every kernel this processor runs, against Python's own
strict decoder: seeded byte strings rich in edge bytes at every length up to
200, and each well-formed or faulty sequence at every position around the
32- and 64-byte blocks, over ASCII and non-ASCII text. Then Arrow string
arrays long enough for the vector kernels: the one-pass read of the offsets
and its fall-back to per-string reading must give the same values, nulls and
first bad position and fault."""

import random

import numpy as np
import pytest
import vorn

import vornkit
from vornkit import _native

KERNELS = ["portable", "avx2", "avx512"]
EDGE_BYTES = bytes([0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1])
EDGE_BYTES += bytes([0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xF7, 0xF8, 0xFE, 0xFF])
# Characters of every length at the ends of its range, and around the surrogates.
CHARACTERS = ["a", "\x7f", "\x80", "é", "\u07ff", "\u0800", "中", "\ud7ff", "\ue000", "\uffff"]
CHARACTERS += ["\U00010000", "😀", "\U0010ffff"]
SEQUENCES = [c.encode() for c in CHARACTERS[2:]] + [
    b"\x80",  # stray continuation
    b"\xbf\x80",
    b"\xc3",  # cut short
    b"\xe4\xb8",
    b"\xf0\x9f\x98",
    b"\xc0\x80",  # overlong
    b"\xc1\xbf",
    b"\xe0\x9f\xbf",
    b"\xf0\x8f\xbf\xbf",
    b"\xed\xa0\x80",  # surrogates
    b"\xed\xbf\xbf",
    b"\xf4\x90\x80\x80",  # beyond U+10FFFF
    b"\xf5\x80\x80\x80",
    b"\xff",
    b"\xe2\x82\xac\x80",  # one continuation too many
    b"\xf0\x9f\x98\x80\x80",
]


def valid(data):
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return True


def needs(kernel):
    if kernel not in _native._utf8_kernels():
        pytest.skip(f"this processor does not run {kernel}")


def random_bytes(rng, length):
    """Mostly characters, then a few edge bytes and a cut."""
    data = bytearray()
    while len(data) < length:
        data += rng.choice(CHARACTERS).encode()
    for _ in range(rng.randrange(3) if data else 0):
        data[rng.randrange(len(data))] = rng.choice(EDGE_BYTES)
    return bytes(data[:length])


@pytest.mark.parametrize("kernel", KERNELS)
def test_random_bytes_of_every_length(kernel):
    needs(kernel)
    rng = random.Random(1)
    for length in range(201):
        for _ in range(40):
            data = random_bytes(rng, length)
            assert _native._is_valid_utf8(data, kernel) == valid(data), data


@pytest.mark.parametrize("kernel", KERNELS)
@pytest.mark.parametrize("background", ["ascii", "mixed"])
def test_each_sequence_at_every_block_position(kernel, background):
    needs(kernel)
    # Past a run of ASCII blocks after the one holding the sequence.
    text = ("abcdefgh" if background == "ascii" else "aé中b😀cd") * 60
    base = text.encode()[:400]
    base = base.decode("utf-8", "ignore").encode()  # whole characters only
    for sequence in SEQUENCES:
        for at in range(270):
            before = base[:at].decode("utf-8", "ignore").encode()
            for data in (before + sequence + base[len(before) :], before + sequence):
                assert _native._is_valid_utf8(data, kernel) == valid(data), (sequence, at, len(data))


def test_kernels_are_named():
    assert "portable" in _native._utf8_kernels()
    assert _native._is_valid_utf8(memoryview(b"\xc3\xa9")) is True
    with pytest.raises(ValueError, match="unknown kernel 'sse'"):
        _native._is_valid_utf8(b"", "sse")


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
