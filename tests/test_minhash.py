"""MinHash signatures and similarity, checked against a plain-Python
reference of the shingling, the FNV-1a hash and the permutations."""

import math
import os
import random

import pytest

import vorn
from vorn import minhash_signature as signature
from vorn import minhash_similarity as similarity

M64 = 2**64 - 1
P61 = 2**61 - 1
GOLDEN = 0x9E3779B97F4A7C15


def fnv1a(text):
    h = 0xCBF29CE484222325
    for byte in text.encode():
        h = ((h ^ byte) * 0x100000001B3) & M64
    return h


def shingles(text, k):
    if len(text) < k:
        return [text]
    return [text[p : p + k] for p in range(len(text) - k + 1)]


def reference_signature(text, k, m):
    hashes = {fnv1a(s) for s in set(shingles(text, k))}
    sig = []
    for i in range(m):
        b = ((i + 1) * GOLDEN + 0x1234) & M64
        a = ((b + 0x9999) & M64) | 1
        sig.append(min(((a * h + b) & M64) % P61 for h in hashes))
    return sig


def reference_similarity(sa, sb):
    n = min(len(sa), len(sb))
    matches = sum(x == y for x, y in zip(sa, sb))
    return math.nan if n == 0 else matches / n


@pytest.mark.parametrize(
    "text, k, m, expected",
    [
        ("abc", 3, 2, [107385297314013898, 2242858558886249666]),
        ("", 1, 2, [214467063832468254, 1007223326381081109]),
        ("", 2**64 - 1, 2, [214467063832468254, 1007223326381081109]),
        ("x", 5, 0, []),
    ],
)
def test_worked_values(text, k, m, expected):
    assert signature(text, k, m) == expected
    assert signature(text=text, shingle_size=k, num_hashes=m) == expected


@pytest.mark.parametrize(
    "a, ka, b, kb",
    [
        ("aaaa", 2, "aaa", 2),  # repeated shingles count once
        ("ab", 3, "ab", 2**64 - 1),  # shorter than k: the whole text
        ("éaéa", 2, "aéaéaé", 2),  # the shingles éa and aé, counted in characters
    ],
)
def test_equal_shingle_sets_give_equal_signatures(a, ka, b, kb):
    assert signature(a, ka, 300) == signature(b, kb, 300)


ALPHABET = "abé漢😀 \u0301"
SHINGLE_SIZES = [1, 2, 3, 4, 7, 2**64 - 1]
HASH_COUNTS = [0, 1, 2, 5, 128, 257]  # 257 spans two blocks of permutations


def test_against_reference():
    rng = random.Random("minhash")
    for _ in range(300):
        text = "".join(rng.choice(ALPHABET) for _ in range(rng.randrange(0, 30)))
        k = rng.choice(SHINGLE_SIZES + [max(1, len(text)), len(text) + 1])
        m = rng.choice(HASH_COUNTS)
        expected = reference_signature(text, k, m)
        sig = signature(text, k, m)
        assert sig == expected, (text, k, m)
        assert all(0 <= v < P61 for v in sig)
        other = "".join(rng.choice(ALPHABET) for _ in range(rng.randrange(0, 30)))
        expected_sim = reference_similarity(expected, reference_signature(other, k, m))
        got = similarity(text, other, k, m)
        assert got == expected_sim or (math.isnan(got) and math.isnan(expected_sim))
        assert similarity(other, text, k, m) == got or math.isnan(got)


@pytest.mark.parametrize("length", [40, 200, 3000])
def test_many_distinct_shingles(length):
    # Enough distinct shingles to make the deduplicating set grow several
    # times; 20 hashes is one register group of permutations plus a rest.
    rng = random.Random(f"minhash-long-{length}")
    text = "".join(chr(rng.randrange(0x61, 0x61 + 40)) for _ in range(length))
    assert signature(text, 2, 20) == reference_signature(text, 2, 20)


def test_default_is_shingle_size_3_and_128_hashes():
    rng = random.Random("minhash-default")
    for _ in range(50):
        a = "".join(rng.choice("abc ") for _ in range(rng.randrange(0, 20)))
        b = "".join(rng.choice("abc ") for _ in range(rng.randrange(0, 20)))
        assert vorn.minhash_similarity_default(a, b) == similarity(a, b, 3, 128)
    assert vorn.minhash_similarity_default("same text", "same text") == 1.0


def test_no_hashes_gives_empty_signature_and_nan():
    assert math.isnan(similarity("a", "a", 1, 0))
    assert math.isnan(vorn.minhash_similarity(a="a", b="b", shingle_size=1, num_hashes=0))


@pytest.mark.parametrize(
    "call",
    [
        lambda: signature("", 0, 2),
        lambda: signature("abc", 0, 2),
        lambda: signature("abc", 0, 2**62),  # the size check comes first
        lambda: similarity("", "abc", 0, 128),
        lambda: vorn.minhash_similarity(a="abc", b="abc", shingle_size=False, num_hashes=1),
    ],
)
def test_zero_shingle_size_is_a_value_error(call):
    with pytest.raises(ValueError) as info:
        call()
    assert str(info.value) == "window size must be non-zero"


def refused(m):
    return f"{m} hashes need more memory than this machine has"


# Refused before anything is allocated; these sizes do not fit in any
# address space, so even the core's own check refuses them.
@pytest.mark.parametrize("m", [2**50, 2**60, 2**64 - 1])
def test_signature_larger_than_memory_is_refused(m):
    with pytest.raises(MemoryError, match=refused(m)):
        signature("hello", 2, m)
    with pytest.raises(MemoryError, match=refused(m)):
        similarity("abc", "abd", 3, m)
    with pytest.raises(ValueError, match="window size must be non-zero"):
        signature("hello", 0, m)
    assert signature("abc", 3, 2) == [107385297314013898, 2242858558886249666]


# Sizes between what fits and what any address space holds, under an
# address-space limit of 1 GiB, which then is the limit that counts (and
# keeps a missing check from taking the machine's memory: it shows as a
# MemoryError without the message). With overcommit, 2**31 hashes would be
# granted and the process killed while the list of ints is built.
LIMITED_CALLS = """
import resource, sys
limit = 1 << 30
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
import vorn
def outcome(call):
    try:
        call()
        return "ok"
    except MemoryError as error:
        return str(error)
print(repr([
    outcome(lambda: vorn.minhash_signature("hello", 2, 2**16)),
    outcome(lambda: vorn.minhash_signature("hello", 2, 2**31)),
    outcome(lambda: vorn.minhash_signature("hello", 2, limit // 64 + 1)),
    outcome(lambda: vorn.minhash_signature("hello", 2, limit // 8 + 1)),
    outcome(lambda: vorn.minhash_similarity("hello", "help", 2, 2**16)),
    outcome(lambda: vorn.minhash_similarity("hello", "help", 2, limit // 16 + 1)),
]))
"""


@pytest.mark.skipif(os.environ.get("VORN_SANITIZED") == "1", reason="AddressSanitizer needs a vast address space")
def test_size_check_reads_the_process_limit():
    import subprocess
    import sys

    run = subprocess.run([sys.executable, "-c", LIMITED_CALLS], capture_output=True, text=True, check=True)
    limit = 1 << 30
    assert eval(run.stdout) == [
        "ok",
        f"{refused(2**31)} ({limit} bytes)",
        f"{refused(limit // 64 + 1)} ({limit} bytes)",
        f"{refused(limit // 8 + 1)} ({limit} bytes)",
        "ok",
        f"{refused(limit // 16 + 1)} ({limit} bytes)",
    ]


@pytest.mark.parametrize(
    "kwargs, error, note",
    [
        ({"num_hashes": -1}, OverflowError, "num_hashes"),
        ({"num_hashes": 2**64}, OverflowError, "num_hashes"),
        ({"shingle_size": 3.0}, TypeError, "shingle_size"),
        ({"shingle_size": "3"}, TypeError, "shingle_size"),
        ({"text": b"abc"}, TypeError, "text"),
    ],
)
def test_conversion_errors_name_the_parameter(kwargs, error, note):
    args = {"text": "abc", "shingle_size": 3, "num_hashes": 2, **kwargs}
    with pytest.raises(error) as info:
        signature(**args)
    assert info.value.__notes__ == [f"while processing '{note}'"]


@pytest.mark.parametrize(
    "name, params",
    [
        ("minhash_signature", "(text, shingle_size, num_hashes)"),
        ("minhash_similarity", "(a, b, shingle_size, num_hashes)"),
        ("minhash_similarity_default", "(a, b)"),
        ("simhash_fingerprint", "(text, shingle_size)"),
        ("simhash_fingerprint_default", "(text)"),
        ("simhash_similarity", "(a, b, shingle_size)"),
        ("simhash_similarity_default", "(a, b)"),
    ],
)
def test_text_signatures(name, params):
    assert getattr(vorn, name).__text_signature__ == params


def test_no_leaks(no_leak):
    no_leak(signature, "héllo wörld", 3, 64, calls=20_000)
    no_leak(similarity, "héllo", "hello", 2, 16, calls=20_000)
    no_leak(vorn.minhash_similarity_default, "abcd", "abce", calls=20_000)
    no_leak(signature, "abc", 0, 4, expect=ValueError, calls=20_000)
    no_leak(signature, "abc", 3, 2**62, expect=MemoryError, calls=20_000)
