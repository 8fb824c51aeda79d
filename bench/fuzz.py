"""Times vornkit.fuzz and vornkit.distance beside RapidFuzz, scalar calls, in one process.

    python bench/fuzz.py           a few seconds per scorer
    python bench/fuzz.py --smoke   tiny batches, seconds in all
    python bench/fuzz.py --cdist [--rows 2000 --cols 20000 --workers 1]

For each scorer and each input set, both libraries score the same pairs in
alternating rounds; the minimum time per call of several rounds is kept and
the table shows vornkit ÷ RapidFuzz (below 1: vornkit is faster). Exits with
status 1 when any score differs.

With --cdist, vornkit.cdist and rapidfuzz.process.cdist score the same
name-like records (one to four words of real text, some misspelt) with the
same number of workers, float64 out; the table shows the minimum seconds of
each and vornkit ÷ RapidFuzz, vornkit's time on one worker ÷ its time on
--workers (the scaling), and its processor time on --workers ÷ on one (cpu:
the work the split adds; on a machine whose other sessions keep the cores
busy the scheduler shares the processor per session, so the wall-clock
scaling there says little).
"""

from __future__ import annotations

import argparse
import random
import sys
import time
from collections.abc import Callable
from pathlib import Path

import numpy as np
import rapidfuzz.distance as rd
import rapidfuzz.fuzz as rf
import rapidfuzz.process as rp

import vornkit
from vornkit import distance as vd
from vornkit import fuzz as vf

sys.path.insert(0, str(Path(__file__).parent.parent / "tests" / "vornkit"))
from fuzz_inputs import contained, long, mixed, names, words  # noqa: E402

sys.path.insert(0, str(Path(__file__).parent))
from inputs import load as load_inputs  # noqa: E402
from inputs import misspell  # noqa: E402

INPUTS = {"words": words, "names": names, "mixed": mixed, "contained": contained, "long": long}
FUZZ = ["ratio", "partial_ratio", "token_sort_ratio", "token_set_ratio", "partial_token_ratio", "WRatio", "QRatio"]
DISTANCE = ["Levenshtein", "Indel", "LCSseq", "OSA", "DamerauLevenshtein", "Hamming", "JaroWinkler", "Prefix"]


def per_call(scorer: Callable[[str, str], object], pairs: list[tuple[str, str]]) -> float:
    start = time.perf_counter()
    for a, b in pairs:
        scorer(a, b)
    return (time.perf_counter() - start) / len(pairs)


CDIST = ["ratio", "WRatio", "token_set_ratio", "partial_ratio", "token_sort_ratio", "QRatio"]


def records(count: int, rng: random.Random) -> list[str]:
    """Name-like records: one to four words of the corpus, every third with a typo."""
    vocabulary = sorted({w for pair in load_inputs(count=400).word_pairs for w in pair})
    out = []
    for k in range(count):
        tokens = rng.choices(vocabulary, k=rng.randint(1, 4))
        if k % 3 == 0:
            i = rng.randrange(len(tokens))
            tokens[i] = misspell(tokens[i], rng) if len(tokens[i]) > 1 else tokens[i]
        out.append(" ".join(tokens))
    return out


def best_times(runs: list[Callable[[], object]], rounds: int) -> tuple[list[float], list[float]]:
    """The minimum seconds of each run, wall and processor (all threads), the runs alternating round by round."""
    wall = [float("inf")] * len(runs)
    processor = [float("inf")] * len(runs)
    for _ in range(rounds):
        for k, run in enumerate(runs):
            start, start_processor = time.perf_counter(), time.process_time()
            run()
            wall[k] = min(wall[k], time.perf_counter() - start)
            processor[k] = min(processor[k], time.process_time() - start_processor)
    return wall, processor


def cdist_main(args: argparse.Namespace) -> int:
    rng = random.Random(11)
    queries, choices = records(args.rows, rng), records(args.cols, rng)
    print(f"cdist {args.rows} x {args.cols}, workers={args.workers}, minimum of {args.rounds} rounds")
    print(f"{'scorer':<20}{'vornkit s':>11}{'rapidfuzz s':>13}{'ratio':>8}{'scaling':>9}{'cpu':>6}")
    failed = False
    for name in args.scorers or CDIST:
        ours, theirs = getattr(vf, name), getattr(rf, name)

        def run_ours(workers: int, ours: Callable[..., float] = ours) -> np.ndarray:
            return vornkit.cdist(queries, choices, scorer=ours, workers=workers)

        def run_theirs(theirs: Callable[..., float] = theirs) -> np.ndarray:
            return rp.cdist(queries, choices, scorer=theirs, dtype=np.float64, workers=args.workers)

        failed |= not np.array_equal(run_ours(args.workers), run_theirs())
        runs = [lambda: run_ours(args.workers), run_theirs]
        if args.workers > 1:
            runs.append(lambda: run_ours(1))
        times, processor = best_times(runs, args.rounds)
        time_ours, time_theirs = times[0], times[1]
        scaling = times[2] / time_ours if args.workers > 1 else 1.0
        # Processor time of all workers ÷ that of one: above 1 is work the
        # split adds; the wall-clock scaling also needs idle cores.
        cpu = processor[0] / processor[2] if args.workers > 1 else 1.0
        print(
            f"{name:<20}{time_ours:>11.3f}{time_theirs:>13.3f}{time_ours / time_theirs:>8.2f}{scaling:>9.2f}{cpu:>6.2f}"
        )
    if failed:
        print("some scores differ from RapidFuzz's")
    return 1 if failed else 0


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--cdist", action="store_true")
    parser.add_argument("--rows", type=int, default=2000)
    parser.add_argument("--cols", type=int, default=20000)
    parser.add_argument("--workers", type=int, default=1)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--scorers", nargs="*")
    args = parser.parse_args()
    if args.cdist:
        return cdist_main(args)
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
