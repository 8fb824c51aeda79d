"""The Jaccard family, checked against plain set arithmetic on character
n-grams and on words split at the 25 White_Space characters."""

import random
import re

import pytest

from vorn import jaccard_bigram_similarity as bigram
from vorn import jaccard_similarity as jaccard
from vorn import jaccard_trigram_similarity as trigram
from vorn import jaccard_word_similarity as words

WHITE_SPACE = "\t\n\v\f\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"
NOT_WHITE_SPACE = "\x1c\x1d\x1e\x1f\u200b\u180e\ufeff"


def ngram_set(text, n):
    if len(text) < n:
        return {text}
    return {text[p : p + n] for p in range(len(text) - n + 1)}


def ratio(x, y):
    return len(x & y) / len(x | y)


def reference(a, b, n):
    return 1.0 if a == b else ratio(ngram_set(a, n), ngram_set(b, n))


def word_set(text):
    return {w for w in re.split(f"[{re.escape(WHITE_SPACE)}]", text) if w}


def reference_words(a, b):
    x, y = word_set(a), word_set(b)
    return 1.0 if not x and not y else ratio(x, y)


@pytest.mark.parametrize(
    "fn, a, b, expected",
    [
        (bigram, "abc", "abd", 1 / 3),
        (bigram, "night", "nacht", 0.14285714285714285),
        (bigram, "abcd", "bcda", 0.5),
        (trigram, "aaaa", "aaa", 1.0),  # repeated n-grams count once
        (bigram, "abab", "ab", 0.5),
        # shorter than n: the whole text is the only element
        (bigram, "a", "b", 0.0),
        (bigram, "ab", "a", 0.0),
        (bigram, "", "a", 0.0),
        (bigram, "a", "a", 1.0),
        (trigram, "ab", "abc", 0.0),
        # characters, not bytes: 'éa' is one bigram of three bytes
        (bigram, "éa", "éa!", 0.5),
        (bigram, "éa", "èa", 0.0),
        (trigram, "😀😁🎉😀", "😁🎉😀", 0.5),
    ],
)
def test_known_values(fn, a, b, expected):
    assert fn(a, b) == expected
    assert fn(b, a) == expected


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ("the cat", "cat the", 1.0),
        ("the quick fox", "the slow fox", 0.5),
        ("Cat", "cat", 0.0),
        ("  ", "", 1.0),
        ("a", "", 0.0),
        ("a a a b", "b", 0.5),
        ("a\xa0b", "b a", 1.0),  # no-break space separates words
        ("\u3000a\u2029b\x85", "a\tb", 1.0),
        ("é", "e\u0301", 0.0),  # words compare byte for byte
    ],
)
def test_word_known_values(a, b, expected):
    assert words(a, b) == expected
    assert words(b, a) == expected


@pytest.mark.parametrize("n", [0, 1, 2, 3, 2**64 - 1])
@pytest.mark.parametrize("text", ["", "ab", "日本語"])
def test_identical_texts_score_one_for_every_n(text, n):
    assert jaccard(text, text, n) == 1.0


@pytest.mark.parametrize("a, b", [("ab", "cd"), ("", "a"), ("a", "")])
def test_zero_window_is_a_value_error(a, b):
    with pytest.raises(Exception) as info:
        jaccard(a, b, 0)
    assert type(info.value) is ValueError
    assert str(info.value) == "window size must be non-zero"
    assert not getattr(info.value, "__notes__", None)


@pytest.mark.parametrize("n, error", [(-1, OverflowError), (2**64, OverflowError), (2.0, TypeError)])
def test_window_conversion_errors(n, error):
    with pytest.raises(error) as info:
        jaccard("ab", "cd", n)
    assert info.value.__notes__ == ["while processing 'n'"]


@pytest.mark.parametrize("n, expected", [(True, 0.5), (2, 1 / 3), (2**64 - 1, 0.0)])
def test_window_values(n, expected):
    assert jaccard("abc", "abd", n) == expected
    assert jaccard(a="abc", n=n, b="abd") == expected


ALPHABETS = {
    "ascii": "abc \0",
    "accented": "aeéèêç",
    "cjk": "日本語中文",
    "emoji": "😀😁🎉a",
    "wide": [chr(c) for c in range(0x400, 0x400 + 40)],  # hundreds of distinct bigrams
}


def random_text(rng, chars, length):
    return "".join(rng.choice(chars) for _ in range(length))


@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_ngrams_against_reference(alphabet):
    rng = random.Random(f"ngrams-{alphabet}")
    chars = ALPHABETS[alphabet]
    for _ in range(300):
        n = rng.choice([1, 2, 2, 3, 3, 4, 5, 9, 17])
        a = random_text(rng, chars, rng.randrange(0, 40) if rng.random() < 0.7 else rng.randrange(0, 700))
        # half of the pairs share most of their n-grams
        b = a[rng.randrange(3) :] + random_text(rng, chars, rng.randrange(4)) if rng.random() < 0.5 else random_text(rng, chars, rng.randrange(0, 60))
        assert jaccard(a, b, n) == reference(a, b, n), (a, b, n)
        if n == 2:
            assert bigram(a, b) == reference(a, b, 2)
        if n == 3:
            assert trigram(a, b) == reference(a, b, 3)


def test_words_against_reference():
    rng = random.Random("words")
    vocabulary = ["a", "b", "ab", "é", "日本", "😀", "x" * 12, *NOT_WHITE_SPACE]
    separators = list(WHITE_SPACE) + ["  ", "\r\n"]
    for _ in range(500):
        texts = []
        for _ in range(2):
            count = rng.randrange(0, 8) if rng.random() < 0.8 else rng.randrange(100, 400)
            parts = [rng.choice(separators) if rng.random() < 0.3 else ""]
            for _ in range(count):
                parts += [rng.choice(vocabulary) + str(rng.randrange(count)), rng.choice(separators)]
            texts.append("".join(parts[:-1] if rng.random() < 0.5 else parts))
        a, b = texts
        assert words(a, b) == reference_words(a, b), (a, b)


def test_calls_do_not_leak(no_leak):
    no_leak(bigram, "night", "nacht", calls=20_000)
    no_leak(jaccard, "é" * 300 + "a" * 300, "a" * 300, 3, calls=5_000)
    no_leak(jaccard, "ab", "cd", 0, expect=ValueError, calls=20_000)
