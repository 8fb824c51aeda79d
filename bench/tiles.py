"""Times vornkit.cdist beside rapidfuzz.process.cdist on each instruction-set
level this processor runs.

    python bench/tiles.py                 10 000 x 1 000 names
    python bench/tiles.py --queries 500   a quicker run

Both sides score the same queries x choices names on one thread: rapidfuzz's
cdist with Levenshtein.distance and JaroWinkler.similarity (workers=1),
vornkit's with vorn.levenshtein_distance and vorn.jaro_winkler_similarity
(workers=1), which run the tile kernels. The level is fixed per process, so
each level runs in a child process of its own with VORN_ISA set, and each
child measures both sides. Prints pairs per second and the ratio vornkit /
rapidfuzz, best of a few interleaved rounds in processor time, and checks
the results.
"""

from __future__ import annotations

import argparse
import os
import random
import subprocess
import sys
import time
from pathlib import Path

import numpy as np
from rapidfuzz import process
from rapidfuzz.distance import JaroWinkler, Levenshtein

sys.path.insert(0, str(Path(__file__).parent))

import vorn  # noqa: E402
from inputs import DEFAULT_TEXT_DIR, misspell, read_texts  # noqa: E402

import vornkit  # noqa: E402
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


def measure(args: argparse.Namespace) -> None:
    """One level, the one this process runs: both sides, interleaved."""
    queries, choices = names(args.queries, 1), names(args.choices, 2)
    pairs = len(queries) * len(choices)
    rows = {
        "levenshtein": (Levenshtein.distance, vorn.levenshtein_distance, np.int64),
        "jaro_winkler": (JaroWinkler.similarity, vorn.jaro_winkler_similarity, np.float64),
    }
    for scorer, (theirs_scorer, ours_scorer, dtype) in rows.items():
        scores = {}

        def peer(theirs_scorer=theirs_scorer, dtype=dtype, scores=scores):
            scores["theirs"] = process.cdist(queries, choices, scorer=theirs_scorer, workers=1, dtype=dtype)

        def run(ours_scorer=ours_scorer, scores=scores):
            scores["ours"] = vornkit.cdist(queries, choices, scorer=ours_scorer, workers=1)

        # Interleaved, so that the other load on the machine hits both alike.
        ours, theirs = float("inf"), float("inf")
        for _ in range(args.rounds):
            ours = min(ours, cpu_time(run))
            theirs = min(theirs, cpu_time(peer))
        print(f"{scorer:<14}{_native.isa:<10}{pairs / ours:>14,.0f}{pairs / theirs:>20,.0f}{theirs / ours:>8.2f}")
        if scorer == "levenshtein":
            assert np.array_equal(scores["ours"], scores["theirs"]), "Levenshtein disagrees with rapidfuzz"
        else:
            # rapidfuzz withholds the prefix bonus below a Jaro of 0.7; vorn
            # never does, so the two agree only where the bonus cannot differ.
            sample = [(q, c) for q in range(0, len(queries), 97) for c in range(0, len(choices), 13)]
            ours_scores = scores["ours"]
            assert all(ours_scores[q, c] == vorn.jaro_winkler_similarity(queries[q], choices[c]) for q, c in sample)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--queries", type=int, default=10_000)
    parser.add_argument("--choices", type=int, default=1_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--this-level-only", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.this_level_only:
        measure(args)
        return

    queries, choices = names(args.queries, 1), names(args.choices, 2)
    lengths = sorted(len(t) for t in queries + choices)
    print(
        f"{len(queries)} x {len(choices)} names, lengths {lengths[0]}..{lengths[-1]}, "
        f"median {lengths[len(lengths) // 2]}"
    )
    print(f"{'scorer':<14}{'level':<10}{'pairs/s':>14}{'rapidfuzz pairs/s':>20}{'ratio':>8}")
    for level in _native.isa_levels:
        command = [sys.executable, __file__, "--this-level-only", *sys.argv[1:]]
        subprocess.run(command, check=True, env={**os.environ, "VORN_ISA": level})


if __name__ == "__main__":
    main()
