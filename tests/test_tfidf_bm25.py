"""TF-IDF cosine and BM25 over two texts, checked against plain-Python
references that sum in order of first occurrence."""

import math
import os
import random
import re
import subprocess
import sys
from collections import Counter

import pytest

import vorn
from vorn import bm25_similarity as bm25
from vorn import tfidf_similarity as tfidf

WHITE_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + (
    "\u2028\u2029\u202f\u205f\u3000"
)
PUNCTUATION = "".join(chr(c) for c in range(0x21, 0x7F) if not chr(c).isalnum())
SEPARATOR = re.compile("[" + re.escape(WHITE_SPACE + PUNCTUATION) + "]+")


def tokens(text):
    return [piece.lower() for piece in SEPARATOR.split(text) if piece]


def reference_tfidf(a, b):
    ca, cb = Counter(tokens(a)), Counter(tokens(b))

    def vector(counts):
        length = sum(counts.values())
        weights, s = {}, 0.0
        for term, count in counts.items():
            df = (term in ca) + (term in cb)
            weights[term] = w = (count / length) * (math.log(3.0 / (df + 1.0)) + 1.0)
            s += w * w
        return weights, math.sqrt(s)

    (wa, na), (wb, nb) = vector(ca), vector(cb)
    if na == 0.0 or nb == 0.0:
        return 1.0 if not wa and not wb else 0.0
    dot = -0.0
    for term, w in wa.items():
        if term in wb:
            dot += w * wb[term]
    return min(dot / (na * nb), 1.0) + 0.0


def reference_bm25(a, b):
    query, docs = tokens(a), [tokens(a), tokens(b)]
    tf = [Counter(d) for d in docs]
    df = Counter(t for counts in tf for t in counts)
    avg = (len(docs[0]) + len(docs[1])) * 0.5

    def score(doc):
        if not query or not df:
            return 0.0
        k = ((len(docs[doc]) * 0.75) / avg + (1 - 0.75)) * 1.2
        s = 0.0
        for t in query:
            idf = math.log(((2 - df[t]) + 0.5) / (df[t] + 0.5) + 1.0)
            f = float(tf[doc][t])
            s = s + idf * ((f * (1.2 + 1.0)) / (f + k))
        return s

    raw, best = score(1), 0.0
    for doc in (0, 1):
        best = max(best, score(doc))
    return raw / best if best > 0.0 else 0.0


@pytest.mark.parametrize(
    "a, b, forward, backward",
    [
        ("the cat sat", "the cat ran", 0.5031026124, 0.5031026124),
        ("the cat", "the cat sat on the mat", 0.6417645565, 0.6417645565),
        ("cat cat dog", "cat dog dog", 0.8, 0.8),
    ],
)
def test_tfidf_listed_values(a, b, forward, backward):
    assert tfidf(a, b) == pytest.approx(forward, abs=1e-10)
    assert tfidf(b, a) == pytest.approx(backward, abs=1e-10)


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ("the cat", "the cat sat on the mat", 0.8096407340),
        ("the cat sat on the mat", "the cat", 0.2967352641),
        ("the cat sat", "the cat ran", 0.3447215536),
        ("cat cat", "cat", 0.9210526316),
        ("cat dog", "cat", 0.2740209616),
        ("cat cat dog", "cat", 0.4516283148),
    ],
)
def test_bm25_listed_values(a, b, expected):
    assert bm25(a, b) == pytest.approx(expected, abs=1e-10)


@pytest.mark.parametrize(
    "a, b, tfidf_value, bm25_value",
    [
        ("", "", 1.0, 0.0),
        ("...", "!!! \u3000", 1.0, 0.0),
        ("", "cat", 0.0, 0.0),
        ("cat", "", 0.0, 0.0),
        ("x", "y", 0.0, 0.0),
        ("Hello, World!", "hello world", 0.9999999999999998, 1.0),
        ("cat", "cat cat", 1.0, 1.0),
        # the cosine of equal vectors rounds to just above 1 and is capped
        ("a b c c", "a b c c", 1.0, 1.0),
    ],
)
def test_exact_values(a, b, tfidf_value, bm25_value):
    assert tfidf(a, b) == tfidf_value
    assert math.copysign(1.0, tfidf(a, b)) == 1.0  # never negative zero
    assert bm25(a, b) == bm25_value


@pytest.mark.parametrize(
    "text, terms",
    [
        ("don't", "don t"),
        ("x_y", "x y"),
        ("route66", "route66"),
        ("ÉCOLE", "école"),
        ("a\u00a0b\u2003c\u3000d", "a b c d"),
        ("ΟΔΟΣ", "οδος"),  # final sigma at the end of a piece
        ("ΑΣ'Β", "ας β"),  # ... also before a separator that is case-ignorable
        ("ΑΣΑ", "ασα"),
        ("İ", "i\u0307"),  # one character in, two out
        ("A-B.C/D[E]F{G}H~I@J`K", "a b c d e f g h i j k"),
    ],
)
def test_tokeniser(text, terms):
    # Equal term multisets score exactly 1.0 with BM25 in both directions.
    assert tokens(text) == terms.split(" ")
    assert bm25(text, terms) == 1.0
    assert bm25(terms, text) == 1.0


@pytest.mark.parametrize(
    "text, split",
    [
        ("don\u2019t", "don t"),  # typographic apostrophe stays inside
        ("a\u200bb", "a b"),  # zero width space is not whitespace
        ("a\x1fb", "a b"),
        ("a\u2014b", "a b"),
        ("«a»", "a"),
    ],
)
def test_non_separators_stay_inside_terms(text, split):
    assert tfidf(text, split) == 0.0
    assert bm25(split, text) == 0.0


WORDS = ["cat", "Cat", "CAT", "dog", "the", "ΟΔΟΣ", "σοφία", "École", "straße", "İstanbul",
         "don’t", "route66", "a", "x\u200by", "ΑΣ", "Σ", "ὈΔΥΣΣΕΎΣ"]
SEPARATORS = [" ", " ", ", ", "'", "_", "\u00a0", "\u3000", "\t", "...", " - ", "\u2028"]


def random_text(rng, words, max_words):
    parts = [rng.choice(SEPARATORS) if rng.random() < 0.2 else ""]
    for _ in range(rng.randrange(0, max_words + 1)):
        parts += [rng.choice(words), rng.choice(SEPARATORS)]
    return "".join(parts[:-1] if rng.random() < 0.5 else parts)


def random_pairs(seed, count, words=WORDS, max_words=12):
    rng = random.Random(seed)
    return [(random_text(rng, words, max_words), random_text(rng, words, max_words)) for _ in range(count)]


def test_against_reference():
    for a, b in random_pairs("corpus", 1500):
        for x, y in ((a, b), (b, a)):
            assert tfidf(x, y) == reference_tfidf(x, y), (x, y)
            assert bm25(x, y) == reference_bm25(x, y), (x, y)


# The tokeniser classifies 64 bytes at a time: separators of several bytes,
# capitals and non-ASCII letters straddling a block boundary.
@pytest.mark.parametrize("middle", ["\u3000", "\u00a0", "\u2028", "É", "Σ", " Cat ", "--", "ΟΔΟΣ"])
def test_pieces_across_blocks(middle):
    for offset in [*range(58, 66), *range(122, 130)]:
        for text in ("x" * offset + middle + "yz", "ab " * (offset // 3) + "q" * (offset % 3) + middle + "Yz"):
            for other in ("x yz Cat", "ab ΟΔΟΣ é σ"):
                assert tfidf(text, other) == reference_tfidf(text, other), (offset, text)
                assert bm25(other, text) == reference_bm25(other, text), (offset, text)


def test_many_distinct_terms_against_reference():
    rng = random.Random("many-terms")
    vocabulary = ["".join(rng.choice("abcdefghijÉß") for _ in range(rng.randrange(1, 6))) for _ in range(3000)]
    for max_words in (200, 2000):
        for a, b in random_pairs(f"many-{max_words}", 3, vocabulary, max_words):
            assert tfidf(a, b) == reference_tfidf(a, b)
            assert bm25(a, b) == reference_bm25(a, b)
            assert 0.0 <= tfidf(a, b) <= 1.0 and 0.0 <= bm25(a, b) <= 1.0


DETERMINISM_CODE = """
import random, sys, vorn
sys.path.insert(0, {tests!r})
from test_tfidf_bm25 import random_pairs
print([vorn.tfidf_similarity(a, b).hex() for a, b in random_pairs("processes", 300)])
"""


def test_same_bits_in_every_process():
    code = DETERMINISM_CODE.format(tests=os.path.dirname(__file__))
    outputs = set()
    for seed in ("0", "1", "4242"):
        env = {**os.environ, "PYTHONHASHSEED": seed}
        result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env)
        assert result.returncode == 0, result.stderr
        outputs.add(result.stdout)
    assert len(outputs) == 1
    assert outputs.pop().strip() == str([tfidf(a, b).hex() for a, b in random_pairs("processes", 300)])


@pytest.mark.parametrize("fn", [tfidf, bm25])
def test_binding(fn, no_leak):
    name = fn.__name__
    assert fn.__text_signature__ == "(a, b)"
    assert fn(b="the cat ran", a="the cat sat") == fn("the cat sat", "the cat ran")
    with pytest.raises(TypeError) as info:
        fn("a", 1)
    assert info.value.__notes__ == ["while processing 'b'"]
    with pytest.raises(TypeError, match=rf"^{name}\(\) missing 1 required positional argument: 'b'$"):
        fn("a")
    no_leak(fn, "The Cat sat, on the ΜΑΤ", "the cat ran", calls=20_000)
