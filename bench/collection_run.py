"""vornkit's collection functions beside the peers a user would pick, in one
process, as ratios, with the peak memory each run adds.

    .venv/bin/python bench/collection_run.py            # the workloads at their full size (many minutes)
    .venv/bin/python bench/collection_run.py --quick    # a tenth of the size
    .venv/bin/python bench/collection_run.py --smoke    # tiny, only checks that everything runs

Writes bench/collection_results.md (or --output DIR). Peers that are not installed
are left out and named.
"""

from __future__ import annotations

import argparse
import gc
import importlib
import os
import random
import sys
import time
from collections.abc import Callable
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import numpy as np
import vorn

import vornkit

HERE = Path(__file__).resolve().parent
SCALE = {"full": 1.0, "quick": 0.1, "smoke": 0.002}


def optional(name: str) -> Any:
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


rapidfuzz = optional("rapidfuzz")
pa = optional("pyarrow")
pl = optional("polars")
pds = optional("polars_ds")
pld = optional("polars_distance")


def names(n: int, seed: int) -> list[str]:
    """Name-like texts of 5 to 20 characters, a few beyond ASCII."""
    rng = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyz" * 8 + "éöüñ "
    return ["".join(rng.choice(letters) for _ in range(rng.randint(5, 20))).strip() or "x" for _ in range(n)]


def peak_rss_mb() -> float:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def current_rss_mb() -> float:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20


def run_measured(fn: Callable[[], Any]) -> tuple[float, float, float, Any]:
    """Seconds, processor seconds (all threads) and the peak memory (MB)
    the call adds above what was resident before."""
    gc.collect()
    try:
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")  # resets the peak resident size
    except OSError:
        pass
    before = current_rss_mb()
    started, cpu_started = time.perf_counter(), time.process_time()
    result = fn()
    seconds, cpu = time.perf_counter() - started, time.process_time() - cpu_started
    return seconds, cpu, peak_rss_mb() - before, result


@dataclass
class Row:
    workload: str
    contender: str
    seconds: float
    cpu_seconds: float
    extra_mb: float
    pairs: float
    note: str = ""


@dataclass
class Workload:
    name: str
    pairs: float
    runs: dict[str, Callable[[], Any]]
    target: str
    rows: list[Row] = field(default_factory=list)

    def measure(self, repeat: int) -> None:
        """Contenders take turns, `repeat` rounds; each keeps its fastest run."""
        best: dict[str, tuple[float, float, float]] = {}
        for _ in range(repeat):
            for contender, fn in self.runs.items():
                seconds, cpu, extra, result = run_measured(fn)
                del result
                if contender not in best or seconds < best[contender][0]:
                    best[contender] = (seconds, cpu, extra)
        for contender, (seconds, cpu, extra) in best.items():
            self.rows.append(Row(self.name, contender, seconds, cpu, extra, self.pairs))
            print(f"  {self.name:<44} {contender:<34} {seconds:9.3f} s {cpu:9.3f} cpu s {extra:9.1f} MB", flush=True)


def cdist_workloads(scale: float, workers: int) -> list[Workload]:
    n = max(20, int(10_000 * scale**0.5))
    queries, choices = names(n, 1), names(n, 2)
    out = []
    for scorer, peer in [
        (vorn.levenshtein_similarity, "Levenshtein.normalized_similarity"),
        (vorn.jaro_winkler_similarity, "JaroWinkler.similarity"),
    ]:
        runs: dict[str, Callable[[], Any]] = {
            "vornkit": lambda s=scorer: vornkit.cdist(queries, choices, scorer=s, workers=workers),
        }
        if rapidfuzz:
            module, attribute = peer.split(".")
            fn = getattr(getattr(rapidfuzz.distance, module), attribute)
            runs["rapidfuzz.process.cdist"] = lambda fn=fn: rapidfuzz.process.cdist(
                queries, choices, scorer=fn, dtype=np.float64, workers=workers
            )
        out.append(
            Workload(
                f"cdist {scorer.__name__} {n}x{n} workers={workers}", n * n, runs, "vornkit >= 1.5x rapidfuzz pairs/s"
            )
        )
    return out


def cpdist_workload(scale: float) -> Workload | None:
    if pa is None:
        return None
    n = max(100, int(1_000_000 * scale))
    a, b = pa.array(names(n, 3)), pa.array(names(n, 4))
    runs: dict[str, Callable[[], Any]] = {
        "vornkit (pyarrow)": lambda: vornkit.cpdist(a, b, scorer=vorn.levenshtein_distance, workers=-1),
    }
    if rapidfuzz:
        la, lb = a.to_pylist(), b.to_pylist()
        runs["rapidfuzz.process.cpdist (lists)"] = lambda: rapidfuzz.process.cpdist(
            la, lb, scorer=rapidfuzz.distance.Levenshtein.distance, workers=-1
        )
    if pl is not None:
        frame = pl.DataFrame({"a": a, "b": b})
        if pds is not None:
            runs["polars_ds str_leven"] = lambda: frame.select(pds.str_leven("a", "b", parallel=True))
        if pld is not None:
            runs["polars-distance levenshtein"] = lambda: frame.select(pld.col("a").dist_str.levenshtein("b"))
    return Workload(f"cpdist levenshtein_distance {n} pairs (pyarrow)", n, runs, "vornkit >= 2x the fastest")


def topk_workload(scale: float) -> Workload:
    nq, nc, k = 100, max(1000, int(1_000_000 * scale)), 5
    queries, choices = names(nq, 5), names(nc, 6)
    runs: dict[str, Callable[[], Any]] = {
        "vornkit.topk": lambda: vornkit.topk(queries, choices, k, scorer=vorn.levenshtein_similarity, workers=-1),
    }
    if rapidfuzz:

        def cdist_argpartition() -> Any:
            matrix = rapidfuzz.process.cdist(
                queries, choices, scorer=rapidfuzz.distance.Levenshtein.normalized_similarity, workers=-1
            )
            best = np.argpartition(-matrix, k, axis=1)[:, :k]
            return best, np.take_along_axis(matrix, best, axis=1)

        runs["rapidfuzz cdist + argpartition"] = cdist_argpartition
    return Workload(f"topk k={k} {nq}x{nc}", nq * nc, runs, "faster, <= 50 MB extra")


def single_search_workloads(scale: float) -> list[Workload]:
    """One query over a list of names at one worker, beside RapidFuzz's extractOne and extract."""
    nc = max(1000, int(1_000_000 * scale))
    choices = names(nc, 7)
    query = choices[nc // 2][:-1] + "q"
    prepared = vornkit.prepare(choices)
    out = []
    for label, ours, peer in [
        ("Levenshtein", "distance.Levenshtein.normalized_similarity", "distance.Levenshtein.normalized_similarity"),
        ("Jaro-Winkler", "distance.JaroWinkler.similarity", "distance.JaroWinkler.similarity"),
        ("WRatio", "fuzz.WRatio", "fuzz.WRatio"),
        ("token_set_ratio", "fuzz.token_set_ratio", "fuzz.token_set_ratio"),
    ]:
        scorer = _attribute(vornkit, ours)
        one: dict[str, Callable[[], Any]] = {
            "vornkit.extract_one (list)": lambda s=scorer: vornkit.extract_one(query, choices, scorer=s),
            "vornkit.extract_one (prepared)": lambda s=scorer: vornkit.extract_one(query, prepared, scorer=s),
        }
        five: dict[str, Callable[[], Any]] = {
            "vornkit.extract limit=5 (list)": lambda s=scorer: vornkit.extract(query, choices, scorer=s, limit=5),
        }
        if rapidfuzz:
            fn = _attribute(rapidfuzz, peer)
            one["rapidfuzz.process.extractOne"] = lambda fn=fn: rapidfuzz.process.extractOne(query, choices, scorer=fn)
            five["rapidfuzz.process.extract limit=5"] = lambda fn=fn: rapidfuzz.process.extract(
                query, choices, scorer=fn, limit=5
            )
        out.append(Workload(f"extract_one {label} 1x{nc} workers=1", nc, one, "list <= 0.8x, prepared <= 0.25x peer"))
        out.append(Workload(f"extract limit=5 {label} 1x{nc} workers=1", nc, five, "<= 0.8x peer"))
    return out


def _attribute(package: Any, dotted: str) -> Any:
    """package's submodule.attribute... by name (vornkit.fuzz is not imported with vornkit)."""
    submodule, _, rest = dotted.partition(".")
    found = importlib.import_module(f"{package.__name__}.{submodule}")
    for name in rest.split("."):
        found = getattr(found, name)
    return found


def extract_workload(scale: float) -> Workload:
    nc = max(1000, int(1_000_000 * scale))
    choices = names(nc, 7)
    query = choices[nc // 2][:-1] + "q"
    runs: dict[str, Callable[[], Any]] = {
        "vornkit.extract": lambda: vornkit.extract(query, choices, scorer=vorn.levenshtein_similarity, workers=-1),
        "vornkit.extract_one": lambda: vornkit.extract_one(
            query, choices, scorer=vorn.levenshtein_similarity, workers=-1
        ),
    }
    if rapidfuzz:
        scorer = rapidfuzz.distance.Levenshtein.normalized_similarity
        runs["rapidfuzz.process.extract"] = lambda: rapidfuzz.process.extract(query, choices, scorer=scorer, limit=5)
        runs["rapidfuzz.process.extractOne"] = lambda: rapidfuzz.process.extractOne(query, choices, scorer=scorer)
    return Workload(f"extract 1x{nc}", nc, runs, "(no target)")


def join_workload(scale: float) -> Workload:
    n = max(200, int(100_000 * scale**0.5))
    texts = names(n, 8)
    texts += [t[:-1] + "z" for t in texts[: n // 20]]  # some near-duplicates
    dense_gb = len(texts) ** 2 * 4 / 1e9
    runs: dict[str, Callable[[], Any]] = {
        "vornkit.threshold_join": lambda: vornkit.threshold_join(
            texts, scorer=vorn.levenshtein_similarity, score_cutoff=0.9, workers=-1
        ),
    }
    return Workload(
        f"threshold_join {len(texts)} names >= 0.9 (dense float32: {dense_gb:.0f} GB)",
        len(texts) * (len(texts) - 1) / 2,
        runs,
        "peak memory < 1 GB",
    )


def report(workloads: list[Workload], scaling: tuple[float, float, float, float] | None, mode: str) -> list[str]:
    lines = [
        "# vornkit collection benchmarks",
        "",
        f"Mode {mode}; {os.cpu_count()} cores; Python {sys.version.split()[0]}; "
        + ", ".join(f"{m.__name__} {getattr(m, '__version__', '?')}" for m in (rapidfuzz, pa, pl, pds, pld) if m),
        "",
        "Missing peers: "
        + (
            ", ".join(
                name
                for name, m in [
                    ("rapidfuzz", rapidfuzz),
                    ("pyarrow", pa),
                    ("polars", pl),
                    ("polars_ds", pds),
                    ("polars-distance", pld),
                ]
                if m is None
            )
            or "none"
        ),
        "",
        "| workload | contender | seconds | processor s | pairs/s | extra peak MB | this ÷ vornkit time | target |",
        "|---|---|---:|---:|---:|---:|---:|---|",
    ]
    for workload in workloads:
        ours = next(row for row in workload.rows if row.contender.startswith("vornkit"))
        for row in workload.rows:
            speed = row.seconds / ours.seconds if row.seconds else float("nan")
            lines.append(
                f"| {workload.name} | {row.contender} | {row.seconds:.3f} | {row.cpu_seconds:.3f} | "
                f"{row.pairs / row.seconds:.3g} | "
                f"{row.extra_mb:.0f} | {speed:.2f} | {workload.target if row is ours else ''} |"
            )
    if scaling:
        lines += [
            "",
            f"workers=2 against workers=1 (cdist levenshtein_similarity): {scaling[0] / scaling[1]:.2f}x "
            f"wall-clock (target >= 1.8x); processor time {scaling[3] / scaling[2]:.2f}x of the one-worker "
            "run (1.0 means no work is added by splitting)",
        ]
    return lines


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    group = parser.add_mutually_exclusive_group()
    group.add_argument("--quick", action="store_const", const="quick", dest="mode")
    group.add_argument("--smoke", action="store_const", const="smoke", dest="mode")
    parser.add_argument("--output", type=Path, default=HERE)
    parser.add_argument("--only", metavar="TEXT", help="run only the workloads whose name contains TEXT")
    parser.add_argument("--repeat", type=int, help="rounds per workload (default 1 in full mode, else 2)")
    args = parser.parse_args(argv)
    mode = args.mode or "full"
    scale = SCALE[mode]
    repeat = args.repeat or (1 if mode == "full" else 2)

    workloads: list[Workload] = []
    for make in (
        lambda: cdist_workloads(scale, 1),
        lambda: cdist_workloads(scale, -1),
        lambda: [cpdist_workload(scale)],
        lambda: [topk_workload(scale)],
        lambda: [extract_workload(scale)],
        lambda: single_search_workloads(scale),
        lambda: [join_workload(scale)],
    ):
        for workload in make():
            if workload is None or (args.only and args.only not in workload.name):
                continue
            workload.measure(repeat)
            workloads.append(workload)

    scaling: tuple[float, float, float, float] | None = None
    one = [w for w in workloads if "levenshtein_similarity" in w.name and "workers=1" in w.name]
    every = [w for w in workloads if "levenshtein_similarity" in w.name and "workers=-1" in w.name]
    if one and every and (os.cpu_count() or 1) >= 2:
        scaling = (
            one[0].rows[0].seconds,
            every[0].rows[0].seconds,
            one[0].rows[0].cpu_seconds,
            every[0].rows[0].cpu_seconds,
        )
    lines = report(workloads, scaling, mode)
    args.output.mkdir(parents=True, exist_ok=True)
    (args.output / "collection_results.md").write_text("\n".join(lines) + "\n", encoding="utf-8")
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
