"""Jaro-Winkler similarity, checked against a plain transcription of the
greedy matching rule, with lengths around the 64-character word boundaries
of the bit-parallel matcher and texts whose windows are 0."""

import random

import pytest

from vorn import jaro_winkler_similarity as jw


def reference(a: str, b: str) -> float:
    if a == b:
        jaro = 1.0
    elif not a or not b:
        jaro = 0.0
    else:
        window = max(max(len(a), len(b)) // 2 - 1, 0)
        flags_a, flags_b = [False] * len(a), [False] * len(b)
        m = 0
        for i, c in enumerate(a):
            for j in range(max(0, i - window), min(len(b), i + window + 1)):
                if not flags_b[j] and b[j] == c:
                    flags_a[i] = flags_b[j] = True
                    m += 1
                    break
        if m == 0:
            jaro = 0.0
        else:
            t = k = 0
            for i, c in enumerate(a):
                if flags_a[i]:
                    while not flags_b[k]:
                        k += 1
                    t += c != b[k]
                    k += 1
            jaro = ((m / len(a) + m / len(b)) + (m - t // 2) / m) / 3.0
    prefix = 0
    for x, y in zip(a, b):
        if x != y or prefix == 4:
            break
        prefix += 1
    return (1.0 - jaro) * (prefix * 0.1) + jaro


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ("", "", 1.0),
        ("", "a", 0.0),
        ("MARTHA", "MARHTA", 0.9611111111111111),
        ("DIXON", "DICKSONX", 0.8133333333333332),
        ("JELLYFISH", "SMELLYFISH", 0.8962962962962964),
        # three mismatched pairs count as one transposition, not 1.5
        ("abcxyz", "bcaxyz", 0.9444444444444445),
        ("ab", "ba", 0.0),  # window 0
        ("prefix_same_1", "prefix_same_2", 0.9692307692307692),  # prefix capped at 4
        ("é", "é", 1.0),
        ("é", "e", 0.0),
        # é and è share their first UTF-8 byte: the prefix is 0 characters
        ("éabc", "èabc", 0.8333333333333334),
        ("日本語テキスト", "日本語のテキスト", 0.9708333333333333),
    ],
)
def test_known_values(a, b, expected):
    assert jw(a, b) == expected
    assert jw(b, a) == expected


def test_prefix_bonus_has_no_threshold():
    a, b = "abcd" + "x" * 30, "abcd" + "y" * 30
    jaro = ((4 / 34 + 4 / 34) + 1.0) / 3.0
    assert jaro < 0.7
    assert jw(a, b) == (1.0 - jaro) * 0.4 + jaro


ALPHABETS = {
    "binary": "ab",
    "ascii": "abcdefg \0",
    "accented": "aeéèêëïôç",
    "cjk": "日本語中文字漢",
    "emoji": "😀😁🎉a",
    "mixed": "ab é日😀\u0301",
    "wide": [chr(c) for c in range(0x400, 0x400 + 300)],  # many distinct keys
}


def random_text(rng, alphabet, length):
    return "".join(rng.choice(alphabet) for _ in range(length))


def related(rng, alphabet, text):
    """text with a few substitutions, insertions, deletions and swaps"""
    chars = list(text)
    for _ in range(rng.randrange(1, 6)):
        pos = rng.randrange(len(chars) + 1)
        op = rng.randrange(4)
        if op == 0:
            chars.insert(pos, rng.choice(alphabet))
        elif pos < len(chars):
            if op == 1:
                del chars[pos]
            elif op == 2:
                chars[pos] = rng.choice(alphabet)
            elif pos + 1 < len(chars):
                chars[pos], chars[pos + 1] = chars[pos + 1], chars[pos]
    return "".join(chars)


LENGTHS = [1, 3, 4, 31, 63, 64, 65, 66, 127, 128, 129, 200]


@pytest.mark.parametrize("alphabet", ["binary", "ascii", "mixed", "wide"])
def test_word_boundaries_against_reference(alphabet):
    rng = random.Random(f"boundaries-{alphabet}")
    chars = ALPHABETS[alphabet]
    for la in LENGTHS:
        for lb in sorted({1, la - 1, la, la + 1, 64, 65, 130} - {0}):
            a = random_text(rng, chars, la)
            b = random_text(rng, chars, lb) if rng.random() < 0.5 else related(rng, chars, a)
            assert jw(a, b) == reference(a, b), (a, b)
            assert jw(b, a) == reference(b, a), (b, a)


@pytest.mark.parametrize("max_length, pairs", [(9, 400), (201, 50)])
@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_random_texts_against_reference(alphabet, max_length, pairs):
    rng = random.Random(f"random-{alphabet}-{max_length}")
    chars = ALPHABETS[alphabet]
    for _ in range(pairs):
        a = random_text(rng, chars, rng.randrange(max_length))
        b = related(rng, chars, a) if rng.random() < 0.6 else random_text(rng, chars, rng.randrange(max_length))
        assert jw(a, b) == reference(a, b), (a, b)


def test_calls_do_not_leak(no_leak):
    no_leak(jw, "MARTHA", "MARHTA", calls=20_000)
    no_leak(jw, "é" * 100 + "a", "a" + "é" * 100, calls=20_000)


@pytest.mark.parametrize("la, lb", [(700, 700), (1500, 300), (300, 1500), (1200, 1100)])
@pytest.mark.parametrize("alphabet", ["binary", "ascii", "mixed"])
def test_long_texts_against_reference(alphabet, la, lb):
    # Many words per text and windows that slide past whole words, where
    # each character's search resumes in the word it last matched in.
    rng = random.Random(f"long-{alphabet}-{la}-{lb}")
    chars = ALPHABETS[alphabet]
    a = random_text(rng, chars, la)
    b = related(rng, chars, a)[:lb] if lb <= la else random_text(rng, chars, lb)
    assert jw(a, b) == reference(a, b)
    assert jw(b, a) == reference(b, a)
