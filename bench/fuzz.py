"""Times vornkit.fuzz and vornkit.distance beside RapidFuzz, scalar calls, in one process.

    python bench/fuzz.py           a few seconds per scorer
    python bench/fuzz.py --smoke   tiny batches, seconds in all

For each scorer and each input set, both libraries score the same pairs in
alternating rounds; the minimum time per call of several rounds is kept and
the table shows vornkit ÷ RapidFuzz (below 1: vornkit is faster). Exits with
status 1 when any score differs.
"""

from __future__ import annotations

import argparse
import random
import sys
import time
from collections.abc import Callable
from pathlib import Path

import rapidfuzz.distance as rd
import rapidfuzz.fuzz as rf

from vornkit import distance as vd
from vornkit import fuzz as vf

sys.path.insert(0, str(Path(__file__).parent.parent / "tests" / "vornkit"))
from fuzz_inputs import contained, long, mixed, names, words  # noqa: E402

INPUTS = {"words": words, "names": names, "mixed": mixed, "contained": contained, "long": long}
FUZZ = ["ratio", "partial_ratio", "token_sort_ratio", "token_set_ratio", "partial_token_ratio", "WRatio", "QRatio"]
DISTANCE = ["Levenshtein", "Indel", "LCSseq", "OSA", "DamerauLevenshtein", "Hamming", "JaroWinkler", "Prefix"]


def per_call(scorer: Callable[[str, str], object], pairs: list[tuple[str, str]]) -> float:
    start = time.perf_counter()
    for a, b in pairs:
        scorer(a, b)
    return (time.perf_counter() - start) / len(pairs)


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--smoke", action="store_true")
    args = parser.parse_args()
    count, rounds = (20, 2) if args.smoke else (2000, 7)
    rng = random.Random(5)
    inputs = {name: [generate(rng) for _ in range(count)] for name, generate in INPUTS.items()}
    scorers = [(name, getattr(vf, name), getattr(rf, name)) for name in FUZZ]
    scorers += [(f"{m}.distance", getattr(vd, m).distance, getattr(rd, m).distance) for m in DISTANCE]
    scorers += [("Jaro.similarity", vd.Jaro.similarity, rd.Jaro.similarity)]
    for metric in ("Levenshtein", "Indel"):
        for form in ("editops", "opcodes"):
            ours_edits, theirs_edits = getattr(getattr(vd, metric), form), getattr(getattr(rd, metric), form)
            scorers.append(
                (
                    f"{metric}.{form}",
                    lambda a, b, f=ours_edits: f(a, b).as_list(),
                    lambda a, b, f=theirs_edits: f(a, b).as_list(),
                )
            )
    print(f"{'scorer':<28}" + "".join(f"{name:>11}" for name in inputs))
    failed = False
    for label, ours, theirs in scorers:
        ratios = []
        for pairs in inputs.values():
            if label.startswith(("OSA", "DamerauLevenshtein")) and len(pairs[0][0]) > 60 and not args.smoke:
                pairs = pairs[:200]  # quadratic in both
            failed |= any(ours(a, b) != theirs(a, b) for a, b in pairs)
            best_ours = best_theirs = float("inf")
            for _ in range(rounds):
                best_ours = min(best_ours, per_call(ours, pairs))
                best_theirs = min(best_theirs, per_call(theirs, pairs))
            ratios.append(best_ours / best_theirs)
        print(f"{label:<28}" + "".join(f"{ratio:>11.2f}" for ratio in ratios))
    if failed:
        print("some scores differ from RapidFuzz's")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
