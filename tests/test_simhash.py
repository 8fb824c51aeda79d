"""SimHash fingerprints and similarity, checked against a plain-Python
vote with 64 signed counters."""

import random

import pytest

import vorn
from vorn import simhash_fingerprint as fingerprint
from vorn import simhash_similarity as similarity

M64 = 2**64 - 1


def fnv1a(text):
    h = 0xCBF29CE484222325
    for byte in text.encode():
        h = ((h ^ byte) * 0x100000001B3) & M64
    return h


def reference_fingerprint(text, k):
    windows = [text] if len(text) < k else [text[p : p + k] for p in range(len(text) - k + 1)]
    counters = [0] * 64
    for window in windows:
        h = fnv1a(window)
        for i in range(64):
            counters[i] += 1 if (h >> i) & 1 else -1
    return sum(1 << i for i in range(64) if counters[i] > 0)


def reference_similarity(fa, fb):
    return 1.0 + bin(fa ^ fb).count("1") * -0.015625


@pytest.mark.parametrize(
    "text, k, expected",
    [
        ("", 4, 0xCBF29CE484222325),
        ("abc", 4, 0xE71FA2190541574B),  # shorter than k: its own hash
        ("abc", 2**64 - 1, 0xE71FA2190541574B),
        ("hello world", 4, 0x4A98F4A451080124),
        ("aaaa", 2, fnv1a("aa")),  # three votes of one shingle
        ("a" * 1000, 1, fnv1a("a")),  # far more equal votes than a byte lane holds
        # two shingles: bits where their hashes disagree tie and are 0
        ("abc", 2, fnv1a("ab") & fnv1a("bc")),
        ("日本語", 2, fnv1a("日本") & fnv1a("本語")),
    ],
)
def test_known_fingerprints(text, k, expected):
    assert fingerprint(text, k) == expected
    assert fingerprint(text=text, shingle_size=k) == expected
    if k == 4:
        assert vorn.simhash_fingerprint_default(text) == expected


def test_known_similarities():
    assert similarity("hello world", "hello world!", 4) == 0.90625
    assert vorn.simhash_similarity_default("hello world", "hello world!") == 0.90625
    assert similarity("same", "same", 2) == 1.0


# Shingle counts around the points where the byte-lane counters are flushed.
LENGTHS = [0, 1, 2, 3, 63, 64, 254, 255, 256, 257, 509, 510, 511, 766]
ALPHABETS = ["ab", "abcdefgh ", "aé漢😀 \u0301"]


@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_against_reference(alphabet):
    rng = random.Random(f"simhash-{alphabet}")
    for length in LENGTHS:
        for _ in range(4):
            text = "".join(rng.choice(alphabet) for _ in range(length))
            k = rng.choice([1, 1, 2, 3, 4, 9, max(1, length), length + 1])
            assert fingerprint(text, k) == reference_fingerprint(text, k), (text, k)
    for _ in range(200):
        a = "".join(rng.choice(alphabet) for _ in range(rng.randrange(0, 24)))
        b = "".join(rng.choice(alphabet) for _ in range(rng.randrange(0, 24)))
        k = rng.randrange(1, 6)
        expected = reference_similarity(reference_fingerprint(a, k), reference_fingerprint(b, k))
        assert similarity(a, b, k) == expected
        assert similarity(b, a, k) == expected
        if k == 4:
            assert vorn.simhash_similarity_default(a, b) == expected


@pytest.mark.parametrize(
    "call",
    [
        lambda: fingerprint("", 0),
        lambda: fingerprint("hello", 0),
        lambda: similarity("a", "b", 0),
    ],
)
def test_zero_shingle_size_is_a_value_error(call):
    with pytest.raises(ValueError) as info:
        call()
    assert str(info.value) == "window size must be non-zero"


def test_conversion_errors_name_the_parameter():
    with pytest.raises(OverflowError) as info:
        similarity("a", "b", -4)
    assert info.value.__notes__ == ["while processing 'shingle_size'"]
    with pytest.raises(TypeError) as info:
        vorn.simhash_fingerprint_default(None)
    assert info.value.__notes__ == ["while processing 'text'"]


def test_no_leaks(no_leak):
    no_leak(fingerprint, "héllo wörld", 3, calls=20_000)
    no_leak(vorn.simhash_fingerprint_default, "hello", calls=20_000)
    no_leak(similarity, "hello", "hallo", 2, calls=20_000)
    no_leak(vorn.simhash_similarity_default, "hello", "hallo", calls=20_000)
    no_leak(fingerprint, "abc", 0, expect=ValueError, calls=20_000)
