"""The collection tile kernels against vorn's pairwise functions, on every
instruction set this processor runs: seeded blocks whose lengths straddle
every lane width (8, 16, 32, 64 characters) and the packed/unpacked border,
over ASCII and non-ASCII alphabets, with empty, identical and related texts,
and distance bounds at and around the true distances. Likewise the kernel of
aligned pairs, around its one-word border."""

import itertools
import random

import numpy as np
import pytest
import reference as ref
import vorn

from vornkit import _native

ISAS = ["portable", "avx2", "avx512"]
LENGTHS = [0, *range(1, 9), 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129]
ALPHABETS = {
    "binary": "ab",
    "ascii": "abcdefghij KLM-'",
    "mixed": "aeé中😀\u0301 ",
}


def needs(isa):
    if isa not in _native._tile_isas():
        pytest.skip(f"this processor does not run {isa}")


def block(rng, alphabet, count, base):
    """Random texts of the boundary lengths, edits of a shared base, copies."""
    texts = []
    for _ in range(count):
        kind = rng.random()
        if kind < 0.5:
            texts.append("".join(rng.choices(alphabet, k=rng.choice(LENGTHS))))
        elif kind < 0.9:
            texts.append(ref.edited(rng, alphabet, base, rng.randrange(4)))
        else:
            texts.append(base)
    return texts


def blocks(seed, alphabet):
    rng = random.Random(seed)
    base = "".join(rng.choices(alphabet, k=rng.choice(LENGTHS)))
    return block(rng, alphabet, 9, base), block(rng, alphabet, 150, base)


@pytest.mark.parametrize("isa", ISAS)
@pytest.mark.parametrize("alphabet", ALPHABETS.values(), ids=ALPHABETS.keys())
@pytest.mark.parametrize("seed", range(4))
def test_tiles_equal_the_pairwise_functions(isa, alphabet, seed):
    needs(isa)
    queries, choices = blocks(seed, alphabet)
    block = seed % 3  # 0: one call; 1, 2: choices prepared once, queries in blocks
    distances = _native._tile_levenshtein(queries, choices, 2**64 - 1, isa, block=block)
    similarities = _native._tile_jaro_winkler(queries, choices, isa, block=block)
    for q, query in enumerate(queries):
        assert distances[q] == [vorn.levenshtein_distance(query, c) for c in choices]
        assert similarities[q] == [vorn.jaro_winkler_similarity(query, c) for c in choices]


@pytest.mark.parametrize("isa", ISAS)
@pytest.mark.parametrize("max_distance", [0, 1, 2, 5, 17, 64])
def test_levenshtein_bound_reports_max_plus_one_beyond_it(isa, max_distance):
    needs(isa)
    queries, choices = blocks(max_distance, ALPHABETS["ascii"])
    bounded = _native._tile_levenshtein(queries, choices, max_distance, isa)
    for q, query in enumerate(queries):
        exact = [vorn.levenshtein_distance(query, c) for c in choices]
        assert bounded[q] == [d if d <= max_distance else max_distance + 1 for d in exact]


@pytest.mark.parametrize("isa", ISAS)
def test_empty_and_identical_texts(isa):
    needs(isa)
    texts = ["", "a", "é", "ab" * 40, "x" * 64, "中" * 65]
    distances = _native._tile_levenshtein(texts, texts, 2**64 - 1, isa)
    similarities = _native._tile_jaro_winkler(texts, texts, isa)
    for q, query in enumerate(texts):
        assert distances[q] == [vorn.levenshtein_distance(query, c) for c in texts]
        assert similarities[q] == [vorn.jaro_winkler_similarity(query, c) for c in texts]
        assert distances[q][q] == 0 and similarities[q][q] == 1.0


def test_scores_written_into_a_buffer():
    queries, choices = blocks(7, ALPHABETS["mixed"])
    distances = np.zeros((len(queries), len(choices)), dtype=np.uint64)
    similarities = np.zeros((len(queries), len(choices)))
    assert _native._tile_levenshtein(queries, choices, 3, out=distances) is None
    assert _native._tile_jaro_winkler(queries, choices, out=similarities) is None
    assert distances.tolist() == _native._tile_levenshtein(queries, choices, 3)
    assert similarities.tolist() == _native._tile_jaro_winkler(queries, choices)
    with pytest.raises(ValueError, match="shape"):
        _native._tile_jaro_winkler(queries, choices, out=similarities[1:])
    with pytest.raises(ValueError, match="shape"):
        _native._tile_jaro_winkler(queries, choices, out=distances)


PAIR_LENGTHS = [0, 1, 2, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100]
# NUL: the value a pattern is padded with. Below U+0100, a character is a
# byte to the kernels: both lead bytes (C2, C3) with the lowest and highest
# continuation byte.
PAIR_ALPHABETS = [*ALPHABETS.values(), "\0a", "a\x80\xbf\xc0\xffé "]


def aligned_pairs(seed):
    """Every pair of border lengths, ASCII and not mixed, unrelated or edited."""
    rng = random.Random(seed)
    a, b = [], []
    for la, lb in itertools.product(PAIR_LENGTHS, repeat=2):
        x = "".join(rng.choices(rng.choice(PAIR_ALPHABETS), k=la))
        other = rng.choice(PAIR_ALPHABETS)
        a.append(x)
        b.append(ref.edited(rng, other, x, rng.randrange(1, 4)) if seed % 2 else "".join(rng.choices(other, k=lb)))
    return a, b


@pytest.mark.parametrize("isa", ISAS)
@pytest.mark.parametrize("max_distance", [2**64 - 1, 0, 1, 3, 40])
def test_aligned_pairs_equal_the_pairwise_function(isa, max_distance):
    needs(isa)
    for seed in (max_distance % 5, max_distance % 5 + 1):
        a, b = aligned_pairs(seed)
        expected = [min(vorn.levenshtein_distance(x, y), max_distance + 1) for x, y in zip(a, b)]
        assert _native._pair_levenshtein(a, b, max_distance, isa) == [min(d, 2**64 - 1) for d in expected]
