"""Seeded generators of string pairs for the differential tests against RapidFuzz."""

import random

WORDS = ["new", "york", "mets", "yankees", "the", "a", "of", "san", "francisco", "giants", "bear", "fuzzy", "was"]
NAMES = ["John", "Jon", "Smith", "Smyth", "Maria", "García", "Garcia", "Müller", "Mueller", "O'Brien", "Ng"]
# Two-byte, three-byte and four-byte UTF-8, emoji with a joiner, and separators RapidFuzz splits on.
MIXED = "aébßЖж中文😀👍🏽\u200d𝔘𝔫 \u00a0\u3000\x1c-"


def _typo(rng: random.Random, text: str) -> str:
    if not text:
        return text
    i = rng.randrange(len(text))
    return text[:i] + rng.choice("aeiouxyz") + text[i + 1 :]


def words(rng: random.Random) -> tuple[str, str]:
    a = " ".join(rng.choices(WORDS, k=rng.randint(1, 6)))
    b = " ".join(rng.choices(WORDS, k=rng.randint(1, 6)))
    return a, _typo(rng, b) if rng.random() < 0.5 else b


def names(rng: random.Random) -> tuple[str, str]:
    first = " ".join(rng.choices(NAMES, k=rng.randint(1, 3)))
    second = " ".join(rng.sample(first.split(), k=len(first.split())))
    return first, _typo(rng, second)


def mixed(rng: random.Random) -> tuple[str, str]:
    return "".join(rng.choices(MIXED, k=rng.randint(0, 12))), "".join(rng.choices(MIXED, k=rng.randint(0, 12)))


def tiny(rng: random.Random) -> tuple[str, str]:
    return "".join(rng.choices("ab ", k=rng.randint(0, 3))), "".join(rng.choices("ab ", k=rng.randint(0, 3)))


def long(rng: random.Random) -> tuple[str, str]:
    """Lengths around the 64, 128 and 256 character block boundaries."""
    alphabet = rng.choice(["abcd", "abcdefgh ", "aé中😀 "])
    n = rng.choice([63, 64, 65, 127, 128, 129, 200, 255, 256, 257, 300])
    a = "".join(rng.choices(alphabet, k=n))
    b = list(a)
    for _ in range(rng.randint(0, n // 4)):
        b[rng.randrange(len(b))] = rng.choice(alphabet)
    m = rng.choice([n, n // 2, n + 40, 5])
    return a, "".join(b)[:m] + "".join(rng.choices(alphabet, k=max(0, m - n)))


def reordered(rng: random.Random) -> tuple[str, str]:
    tokens = rng.choices(WORDS, k=rng.randint(2, 6))
    shuffled = tokens[:]
    rng.shuffle(shuffled)
    return " ".join(tokens), "  ".join(shuffled) if rng.random() < 0.3 else " ".join(shuffled)


def contained(rng: random.Random) -> tuple[str, str]:
    tokens = rng.choices(WORDS, k=rng.randint(1, 5))
    part = rng.sample(tokens, k=rng.randint(1, len(tokens)))
    extra = rng.choices(WORDS + NAMES, k=rng.randint(0, 3))
    return " ".join(tokens), " ".join(part + extra)


def repeated(rng: random.Random) -> tuple[str, str]:
    return rng.choice("ab") * rng.randint(0, 80), rng.choice("ab") * rng.randint(0, 80) + rng.choice(["", "b", "ab"])


def needle(rng: random.Random) -> tuple[str, str]:
    """A short text against a longer one that holds a near copy of it."""
    alphabet = rng.choice(["abc", "abcdefghij", "aé中😀"])
    short = "".join(rng.choices(alphabet, k=rng.randint(1, 90)))
    pad = rng.randint(0, 120)
    left = "".join(rng.choices(alphabet, k=rng.randint(0, pad)))
    right = "".join(rng.choices(alphabet, k=pad - len(left)))
    return short, left + _typo(rng, short) + right


GENERATORS = [words, names, mixed, tiny, long, reordered, contained, repeated, needle]


def pairs(seed: int, count: int) -> list[tuple[str, str]]:
    """`count` pairs from every generator, each pair also in the swapped order."""
    rng = random.Random(seed)
    result = []
    for generate in GENERATORS:
        for _ in range(count):
            a, b = generate(rng)
            result += [(a, b), (b, a)]
    return result
