"""Automatic blocking on generated person records: time, candidate pairs
and recall of the true pairs, for linking two tables and deduplicating one.

    python bench/blocking_scale.py --link 10000 --dedup 1000000 [--workers 2]

Needs bench/person_data.py (the seeded generator). Prints one line per run:
records, seconds of wall and CPU time (rule choice, pair generation; on a
shared machine the CPU time is the steadier figure), candidate pairs per
record, recall of true pairs, estimated recall, peak memory, and the rules.
"""

from __future__ import annotations

import argparse
import resource
import sys
import time
from pathlib import Path

import numpy as np

import vornkit

sys.path.insert(0, str(Path(__file__).resolve().parent))
import person_data  # noqa: E402


def _entity_codes(*tables: dict[str, list]) -> list[np.ndarray]:
    table: dict[str, int] = {}
    return [np.array([table.setdefault(e, len(table)) for e in t["entity"]], dtype=np.int64) for t in tables]


def _true_pair_count(left: np.ndarray, right: np.ndarray | None) -> int:
    if right is None:
        counts = np.bincount(left)
        return int((counts * (counts - 1) // 2).sum())
    size = max(int(left.max()), int(right.max())) + 1
    return int((np.bincount(left, minlength=size) * np.bincount(right, minlength=size)).sum())


def run(kind: str, left: dict, right: dict | None, workers: int, budget: float) -> None:
    columns = [c for c in person_data.FIELDS if c in left]
    data_left = person_data.without_truth(left)
    data_right = None if right is None else person_data.without_truth(right)
    entities = _entity_codes(left) if right is None else _entity_codes(left, right)
    start, start_cpu = time.perf_counter(), time.process_time()
    plan = vornkit.auto_blocking_rules(data_left, data_right, columns, budget_per_record=budget, workers=workers)
    chosen, chosen_cpu = time.perf_counter(), time.process_time()
    i, j = vornkit.candidate_pairs(data_left, data_right, plan, workers=workers)
    done, done_cpu = time.perf_counter(), time.process_time()
    right_entities = entities[0] if right is None else entities[1]
    found = int(np.count_nonzero(entities[0][i] == right_entities[j]))
    truth = _true_pair_count(entities[0], None if right is None else entities[1])
    records = max(len(left["id"]), 0 if right is None else len(right["id"]))
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(
        f"{kind} {records:,} records: choose {chosen - start:.1f} s ({chosen_cpu - start_cpu:.1f} s CPU), "
        f"pairs {done - chosen:.1f} s ({done_cpu - chosen_cpu:.1f} s CPU), "
        f"{len(i):,} pairs ({len(i) / records:.1f} per record), recall {found / truth:.4f} "
        f"(estimated {plan.estimated_recall:.4f} on {plan.pseudo_matches} pseudo-matches), peak {peak:,.0f} MiB"
    )
    for rule, estimate in zip(plan, plan.estimated_pairs):
        print(f"    {rule}: ~{estimate:,}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--link", type=int, default=10_000)
    parser.add_argument("--dedup", type=int, default=0)
    parser.add_argument("--workers", type=int, default=-1)
    parser.add_argument("--budget", type=float, default=50.0)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    if args.link:
        left, right = person_data.make_link_tables(args.link, seed=args.seed)
        run("link", left, right, args.workers, args.budget)
    if args.dedup:
        table = person_data.make_dedup_table(args.dedup, seed=args.seed)
        run("dedup", table, None, args.workers, args.budget)


if __name__ == "__main__":
    main()
