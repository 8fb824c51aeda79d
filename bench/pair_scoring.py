"""Scoring candidate pairs named by row numbers: vornkit.score_pairs beside
gathering the pairs' strings and scoring them aligned (vornkit.cpdist, and
RapidFuzz's cpdist when installed), one thread, in one process.

    python bench/pair_scoring.py [--pairs 1000000] [--repeats 3]

Prints the best of the repeats for each way, and its ratio to score_pairs.
"""

from __future__ import annotations

import argparse
import random
import time
from collections.abc import Callable

import numpy as np
import vorn

import vornkit


def best_of(repeats: int, job: Callable[[], object]) -> float:
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        job()
        times.append(time.perf_counter() - start)
    return min(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pairs", type=int, default=1_000_000)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    rng = random.Random(1)
    letters = "abcdefghijklmnopqrstuvwxyz"
    names = ["".join(rng.choice(letters) for _ in range(rng.randrange(4, 14))) for _ in range(200_000)]
    i = np.array([rng.randrange(len(names)) for _ in range(args.pairs)], dtype=np.int64)
    j = np.array([rng.randrange(len(names)) for _ in range(args.pairs)], dtype=np.int64)

    def gathered() -> tuple[list[str], list[str]]:
        return [names[k] for k in i.tolist()], [names[k] for k in j.tolist()]

    try:
        from rapidfuzz.distance import JaroWinkler, Levenshtein
        from rapidfuzz.process import cpdist as rapidfuzz_cpdist
    except ImportError:
        rapidfuzz_cpdist = None
    for scorer, peer in ((vorn.jaro_winkler_similarity, "JaroWinkler"), (vorn.levenshtein_distance, "Levenshtein")):
        ways: dict[str, Callable[[], object]] = {
            "score_pairs": lambda scorer=scorer: vornkit.score_pairs(names, None, i, j, scorer=scorer),
            "gather + vornkit.cpdist": lambda scorer=scorer: vornkit.cpdist(*gathered(), scorer=scorer),
        }
        if rapidfuzz_cpdist is not None:
            peer_scorer = JaroWinkler.similarity if peer == "JaroWinkler" else Levenshtein.distance
            ways["gather + rapidfuzz cpdist"] = lambda peer_scorer=peer_scorer: rapidfuzz_cpdist(
                *gathered(), scorer=peer_scorer
            )
        times = {name: best_of(args.repeats, job) for name, job in ways.items()}
        base = times["score_pairs"]
        row = ", ".join(f"{name} {t:.3f} s ({t / base:.2f}x)" for name, t in times.items())
        print(f"{scorer.__name__}, {args.pairs:,} pairs: {row}")


if __name__ == "__main__":
    main()
