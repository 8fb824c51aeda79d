"""Long texts and wide alphabets through the multi-block paths of
Levenshtein and Jaro-Winkler, checked against RapidFuzz (Levenshtein
distance; Jaro on texts whose first characters differ), and the memory
their character masks take, which must not grow with the alphabet."""

import random
import subprocess
import sys
import textwrap

import pytest
import vorn

rapidfuzz = pytest.importorskip("rapidfuzz")
from rapidfuzz.distance import Jaro, Levenshtein  # noqa: E402

# "sparse": characters rarer than one per four blocks keep only their
# non-zero blocks; "mixed" puts such characters beside frequent ones.
ALPHABETS = {
    "ascii": "abcdefghij",
    "sparse": [chr(c) for c in range(0x4E00, 0x4E00 + 3000)],
    "mixed": list("abcé ") + [chr(c) for c in range(0x4E00, 0x4E00 + 1500)],
}
# Around the borders of 64-character blocks, on both parities (columns are
# taken in pairs) and past the 16-column steps of the band.
LENGTHS = [255, 256, 257, 511, 512, 513, 1023, 1024, 1025, 1537]


def text(rng, alphabet, length):
    return "".join(rng.choices(alphabet, k=length))


def related(rng, alphabet, source, edits):
    chars = list(source)
    for _ in range(edits):
        pos = rng.randrange(len(chars) + 1)
        op = rng.randrange(3)
        if op == 0 or not chars:
            chars.insert(pos, rng.choice(alphabet))
        elif op == 1:
            del chars[min(pos, len(chars) - 1)]
        else:
            chars[min(pos, len(chars) - 1)] = rng.choice(alphabet)
    return "".join(chars)


def shifted(rng, alphabet, source, moved):
    """`moved` characters cut near the start and as many new ones added
    near the end (or the reverse): the best alignment runs far from the
    main diagonal for most of the text."""
    fresh = text(rng, alphabet, moved)
    head, body, tail = source[:20], source[20:-20], source[-20:]
    if rng.random() < 0.5:
        return head + body[moved:] + fresh + tail
    return head + fresh + body[: len(body) - moved] + tail


def pairs(name, count):
    rng = random.Random(f"long-{name}")
    alphabet = ALPHABETS[name]
    for i in range(count):
        a = text(rng, alphabet, rng.choice(LENGTHS))
        kind = i % 3
        if kind == 0:
            b = text(rng, alphabet, rng.choice(LENGTHS))
        elif kind == 1:
            b = related(rng, alphabet, a, rng.randrange(1, 40))
        else:
            b = shifted(rng, alphabet, a, rng.choice([1, 63, 64, 65, 200]))
        yield a, b


@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_levenshtein_agrees_on_long_texts(alphabet):
    for a, b in pairs(alphabet, 60):
        expected = Levenshtein.distance(a, b)
        assert vorn.levenshtein_distance(a, b) == expected, (len(a), len(b))
        assert vorn.levenshtein_distance(b, a) == expected


@pytest.mark.parametrize("alphabet", ALPHABETS)
def test_jaro_agrees_on_long_texts(alphabet):
    for a, b in pairs(alphabet, 40):
        b = "\x01" + b  # no common first character: Jaro-Winkler is plain Jaro
        assert vorn.jaro_winkler_similarity(a, b) == Jaro.similarity(a, b), (len(a), len(b))
        assert vorn.jaro_winkler_similarity(b, a) == Jaro.similarity(b, a)


def peak_memory_growth(call):
    """Result and peak resident memory growth in MB of `call` on a text of
    20 000 distinct characters `a` and its shuffled copy `b`, in a fresh
    interpreter so that nothing else counts."""
    script = textwrap.dedent(f"""
        import random, resource, vorn
        chars = [chr(0x4E00 + i) for i in range(20_000)]
        a = "".join(chars)
        random.Random(1).shuffle(chars)
        b = "".join(chars)
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        result = {call}
        print(result, (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) / 1024)
    """)
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    result, growth = out.split()
    return result, float(growth)


@pytest.mark.parametrize(
    "call, expected",
    [
        ("vorn.jaro_winkler_similarity('x', a)", "0.0"),
        ("vorn.jaro_winkler_similarity(b, a)", None),
        ("vorn.levenshtein_distance(a, b)", None),
    ],
)
def test_mask_memory_does_not_grow_with_the_alphabet(call, expected):
    # One dense row per distinct character would take 20 000 x 313 words
    # (50 MB); the texts themselves are 60 kB each.
    result, growth = peak_memory_growth(call)
    if expected is not None:
        assert result == expected
    assert growth < 16
