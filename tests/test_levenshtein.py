"""Levenshtein distance and similarity, checked against a plain dynamic
programme, with inputs that cross the 64-character word boundaries of the
bit-parallel implementation."""

import random

import pytest

from vorn import levenshtein_distance as distance
from vorn import levenshtein_similarity as similarity


def reference_distance(a: str, b: str) -> int:
    row = list(range(len(a) + 1))
    for i, cb in enumerate(b, 1):
        diagonal, row[0] = row[0], i
        for j, ca in enumerate(a, 1):
            above = row[j]
            row[j] = min(above + 1, row[j - 1] + 1, diagonal + (ca != cb))
            diagonal = above
    return row[-1]


def reference_similarity(a: str, b: str) -> float:
    m = max(len(a), len(b))
    return 1.0 if m == 0 else 1.0 - reference_distance(a, b) / m


@pytest.mark.parametrize(
    "a, b, d, s",
    [
        ("kitten", "sitting", 3, 0.5714285714285714),
        ("flaw", "lawn", 2, 0.5),
        ("", "", 0, 1.0),
        ("", "abc", 3, 0.0),
        ("héllo", "hello", 1, 0.8),  # characters, not bytes
        ("\u00e9", "e\u0301", 2, 0.0),  # no normalisation
        ("A", "a", 1, 0.0),
        ("abcdefg", "abcxefz", 2, 0.7142857142857143),
        ("日本語", "日本", 1, 1.0 - 1 / 3),
        ("😀a", "a😀", 2, 0.0),
        # common prefix/suffix split inside a multi-byte character: é (C3 A9) vs è (C3 A8)
        ("xé", "xè", 1, 0.5),
        ("éx", "èx", 1, 0.5),
        ("\u0100", "\u0101", 1, 0.0),
    ],
)
def test_known_values(a, b, d, s):
    assert distance(a, b) == d
    assert distance(b, a) == d
    assert similarity(a, b) == s
    assert similarity(b, a) == s


def test_identical_texts():
    text = "naïve café " * 50
    assert distance(text, text) == 0
    assert similarity(text, str(text)) == 1.0


ALPHABETS = {
    "binary": "ab",
    "ascii": "abcdefghij ",
    "mixed": "abcé漢😀 \u0301",
    "wide": [chr(c) for c in range(0x400, 0x400 + 300)],  # many distinct non-ASCII characters
}
BOUNDARY_LENGTHS = [0, 1, 2, 63, 64, 65, 127, 128, 129, 191, 192, 193]


def random_text(rng, alphabet, length):
    return "".join(rng.choice(alphabet) for _ in range(length))


@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_against_reference_at_block_boundaries(alphabet):
    rng = random.Random(f"boundaries-{alphabet}")
    chars = ALPHABETS[alphabet]
    for la in BOUNDARY_LENGTHS:
        for lb in (0, 1, la - 1, la, la + 1, 130):
            if lb < 0:
                continue
            a, b = random_text(rng, chars, la), random_text(rng, chars, lb)
            assert distance(a, b) == reference_distance(a, b), (a, b)
            assert similarity(a, b) == reference_similarity(a, b)


@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_against_reference_random_lengths(alphabet):
    rng = random.Random(f"random-{alphabet}")
    chars = ALPHABETS[alphabet]
    for _ in range(40):
        a = random_text(rng, chars, rng.randrange(301))
        # related texts (few edits) as well as unrelated ones
        if rng.random() < 0.5:
            b = list(a)
            for _ in range(rng.randrange(1, 8)):
                op = rng.randrange(3)
                pos = rng.randrange(len(b) + 1)
                if op == 0:
                    b.insert(pos, rng.choice(chars))
                elif b and pos < len(b):
                    if op == 1:
                        del b[pos]
                    else:
                        b[pos] = rng.choice(chars)
            b = "".join(b)
        else:
            b = random_text(rng, chars, rng.randrange(301))
        assert distance(a, b) == reference_distance(a, b), (a, b)


def shifted_pair(rng, moved, length, grow, cut):
    """A text and a copy with a run of `moved` characters deleted at `cut`
    and `moved + grow` new ones inserted near the end, plus a few
    substitutions: the optimal alignment leaves the diagonal on one side
    and comes back from the other."""
    a = random_text(rng, "abcdefghij", length)
    b = list(a[5:cut] + a[cut + moved :])
    b[-5:-5] = random_text(rng, "abcdefghij", moved + grow)
    for _ in range(3):
        b[rng.randrange(len(b))] = rng.choice("klm")
    return a, "".join(b)


@pytest.mark.parametrize("late", [False, True])
@pytest.mark.parametrize("grow", [-20, 0, 1, 90])
@pytest.mark.parametrize("moved, length", [(1, 400), (70, 260), (150, 330)])
def test_long_alignments_far_from_the_diagonal(moved, length, grow, late):
    # The multi-block path skips cells that cannot beat its current bound;
    # an alignment far off the diagonal on either side must still be found.
    rng = random.Random(f"shift-{moved}-{length}-{grow}-{late}")
    cut = (length - moved) * 7 // 8 if late else length // 3
    a, b = shifted_pair(rng, moved, length, grow, cut)
    assert distance(a, b) == reference_distance(a, b)
    assert distance(b, a) == reference_distance(a, b)


def test_long_texts_use_memory_of_the_shorter_only():
    a = "ab" * 50_000
    b = "ba" * 50_000
    assert distance(a, b) == 2
    assert distance("x", a) == 100_000
    assert distance("a" * 200, "b" * 1000) == 1000
