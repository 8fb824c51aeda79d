"""Times the tile kernels alone beside rapidfuzz.process.cdist, in one process.

    python bench/tiles.py                 10 000 x 1 000 names
    python bench/tiles.py --queries 500   a quicker run

Both sides score the same queries x choices names on one thread: rapidfuzz's
cdist with Levenshtein.normalized_similarity and JaroWinkler.similarity
(workers=1), the kernels on each instruction set this processor runs, as one
tile and as tiles of 64 queries (what a driver that splits the queries
does), and as 64-query blocks against choices prepared once. The kernel's
Levenshtein returns distances; turning them into normalised similarities is
the driver's share. Prints pairs per second and
the ratio kernel / rapidfuzz, best of a few interleaved rounds in
processor time, and checks the results.
"""

from __future__ import annotations

import argparse
import random
import sys
import time
from pathlib import Path

import numpy as np
from rapidfuzz import process
from rapidfuzz.distance import JaroWinkler, Levenshtein

sys.path.insert(0, str(Path(__file__).parent))

import vorn  # noqa: E402
from inputs import DEFAULT_TEXT_DIR, misspell, read_texts  # noqa: E402

from vornkit import _native  # noqa: E402

ACCENTS = str.maketrans("aeiou", "áéíöü")


def names(count: int, seed: int) -> list[str]:
    """'Given Family' names of 2 to 30 letters built from the license words,
    one in ten with accented vowels and one in five misspelled."""
    rng = random.Random(seed)
    _, texts = read_texts(DEFAULT_TEXT_DIR)
    words = sorted({w.capitalize() for t in texts for w in t.split() if w.isalpha() and 2 <= len(w) <= 14})
    out = []
    for _ in range(count):
        name = f"{rng.choice(words)} {rng.choice(words)}"
        if rng.random() < 0.1:
            name = name.translate(ACCENTS)
        if rng.random() < 0.2:
            name = misspell(name, rng)
        out.append(name)
    return out


def cpu_time(fn) -> float:
    # Both sides run on this one thread, so its processor time is the fair
    # measure, and far steadier than wall time on a shared machine.
    start = time.process_time()
    fn()
    return time.process_time() - start


def tiled(kernel, queries, choices, out, rows, **kwargs):
    if rows == "prepared":
        return lambda: kernel(queries, choices, out=out, block=64, **kwargs)

    def run():
        for start in range(0, len(queries), rows):
            kernel(queries[start : start + rows], choices, out=out[start : start + rows], **kwargs)

    return run


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--queries", type=int, default=10_000)
    parser.add_argument("--choices", type=int, default=1_000)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    queries, choices = names(args.queries, 1), names(args.choices, 2)
    pairs = len(queries) * len(choices)
    lengths = sorted(len(t) for t in queries + choices)
    print(
        f"{len(queries)} x {len(choices)} names, lengths {lengths[0]}..{lengths[-1]}, "
        f"median {lengths[len(lengths) // 2]}"
    )

    distances = np.empty((len(queries), len(choices)), dtype=np.uint64)
    similarities = np.empty((len(queries), len(choices)))
    rows = {
        "levenshtein": (
            lambda: process.cdist(queries, choices, scorer=Levenshtein.normalized_similarity, workers=1),
            _native._tile_levenshtein,
            distances,
            {"max_distance": 2**64 - 1},
        ),
        "jaro_winkler": (
            lambda: process.cdist(queries, choices, scorer=JaroWinkler.similarity, workers=1, dtype=np.float64),
            _native._tile_jaro_winkler,
            similarities,
            {},
        ),
    }
    print(f"{'scorer':<14}{'kernel':<22}{'pairs/s':>14}{'rapidfuzz pairs/s':>20}{'ratio':>8}")
    for scorer, (peer, kernel, out, kwargs) in rows.items():
        for isa in _native._tile_isas():
            shapes = (
                (f"{isa}, one tile", len(queries)),
                (f"{isa}, 64-row tiles", 64),
                (f"{isa}, prepared, 64", "prepared"),
            )
            for label, rows_per_tile in shapes:
                run = tiled(kernel, queries, choices, out, rows_per_tile, isa=isa, **kwargs)
                # Interleaved, so that the other load on the machine hits both alike.
                ours, theirs = float("inf"), float("inf")
                for _ in range(args.rounds):
                    ours = min(ours, cpu_time(run))
                    theirs = min(theirs, cpu_time(peer))
                print(f"{scorer:<14}{label:<22}{pairs / ours:>14,.0f}{pairs / theirs:>20,.0f}{theirs / ours:>8.2f}")
        expected = peer()
        if scorer == "levenshtein":
            longest = np.maximum.outer([len(q) for q in queries], [len(c) for c in choices])
            ours = np.where(longest == 0, 1.0, 1.0 - distances / np.maximum(longest, 1))
            assert np.allclose(ours, expected), "Levenshtein disagrees with rapidfuzz"
        else:
            # rapidfuzz withholds the prefix bonus below a Jaro of 0.7; vorn
            # never does, so the two agree only where the bonus cannot differ.
            sample = [(q, c) for q in range(0, len(queries), 97) for c in range(0, len(choices), 13)]
            assert all(similarities[q, c] == vorn.jaro_winkler_similarity(queries[q], choices[c]) for q, c in sample)


if __name__ == "__main__":
    main()
