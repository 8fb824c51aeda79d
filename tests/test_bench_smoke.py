"""Every benchmark runs end to end in its smoke mode, whichever peers are
installed, so none can rot between full runs. Nothing about time is
asserted."""

import importlib.util
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

BENCH = Path(__file__).resolve().parent.parent / "bench"

# Script, its arguments beside --smoke, the report it writes (or None: its
# standard output), and lines the report must hold.
RUNS = [
    ("run.py", ["--output"], "results.md", ["## Targets", "| call overhead |"]),
    (
        "collection_run.py",
        ["--output"],
        "collection_results.md",
        ["| cdist levenshtein_similarity", "| cdist jaro_winkler_similarity", "| topk k=5", "| threshold_join"],
    ),
    ("dedup.py", [], None, ["| dedup, 500 documents"]),
    ("edit_index.py", [], None, ["| build over 2,000 names", "| 100 queries, k = 1, workers=2", "| index memory"]),
    ("linkage.py", ["--output"], "linkage_results.md", ["| generated link 30", "| FEBRL 1 | 1000 | vornkit link"]),
]


@pytest.mark.parametrize(("script", "arguments", "report", "expected"), RUNS, ids=[run[0] for run in RUNS])
def test_smoke_run_writes_the_report(tmp_path, script, arguments, report, expected):
    if not (BENCH / script).exists():
        pytest.skip("benchmark not in this tree")
    command = [sys.executable, str(BENCH / script), "--smoke", *(arguments and [arguments[0], str(tmp_path)])]
    completed = subprocess.run(command, capture_output=True, text=True, timeout=600)
    assert completed.returncode == 0, completed.stdout + completed.stderr
    text = (tmp_path / report).read_text(encoding="utf-8") if report else completed.stdout
    for line in expected:
        assert line in text
    assert "DISAGREEMENTS" not in completed.stderr


# ---------------------------------------------------------------- linkage data and its scoring


def bench_module(name: str):
    """Loads a module of bench/ by its path: bench/ is not put on sys.path,
    where its run.py or spark.py would shadow other modules."""
    path = BENCH / f"{name}.py"
    if not path.exists():
        pytest.skip("benchmark not in this tree", allow_module_level=True)
    module_spec = importlib.util.spec_from_file_location(f"bench_{name}", path)
    module = importlib.util.module_from_spec(module_spec)
    sys.modules[module_spec.name] = module  # dataclasses look their module up by name
    module_spec.loader.exec_module(module)
    return module


person_data = bench_module("person_data")
linkage_eval = bench_module("linkage_eval")


def test_person_data_is_fixed_by_its_seed():
    first = person_data.make_link_tables(300, seed=5)
    assert person_data.make_link_tables(300, seed=5) == first
    assert person_data.make_link_tables(300, seed=6) != first
    dedup = person_data.make_dedup_table(400, seed=5, duplicate_rate=0.3)
    assert person_data.make_dedup_table(400, seed=5, duplicate_rate=0.3) == dedup


def test_person_data_tables_hold_strings_and_answers():
    left, right = person_data.make_link_tables(500, seed=1)
    dedup = person_data.make_dedup_table(1000, seed=1, duplicate_rate=0.3)
    for table in (left, right, dedup):
        assert list(table) == ["id", *person_data.FIELDS, "entity"]
        assert len({len(column) for column in table.values()}) == 1
        assert len(set(table["id"])) == len(table["id"])
        assert all(value is None or isinstance(value, str) for column in table.values() for value in column)
    assert len(set(left["entity"]) & set(right["entity"])) == len(person_data.true_link_pairs(left, right))
    assert len(dedup["id"]) == 1000 and 650 <= len(set(dedup["entity"])) <= 750
    # The hard cases are there: relatives at one address, people who moved.
    by_address = {}
    for entity, street, postcode in zip(dedup["entity"], dedup["street"], dedup["postcode"]):
        by_address.setdefault((street, postcode), set()).add(entity)
    assert max(len(entities) for entities in by_address.values()) >= 3


@pytest.mark.parametrize(
    ("draws", "expected"),
    [((0.0, 0.0, 0.0), "aword"), ((0.3, 0.0, 0.0), "ord"), ((0.6, 0.99, 0.0), "wora"), ((0.9, 0.99, 0.0), "wodr")],
    ids=["insert", "delete", "substitute", "transpose at the end"],
)
def test_typo_makes_one_edit(draws, expected):
    assert person_data.typo("word", draws) == expected


LINK_TRUTH = {("a1", "b1"), ("a2", "b2"), ("a3", "b3"), ("a4", "b4")}


def test_pair_quality_counts_distinct_pairs():
    quality = linkage_eval.pair_quality([("a1", "b1"), ("a1", "b1"), ("a2", "b2"), ("a2", "b3")], LINK_TRUTH)
    assert (quality.correct, quality.predicted, quality.true) == (2, 3, 4)
    assert (quality.precision, quality.recall, quality.f1) == (2 / 3, 0.5, 4 / 7)


def test_dedup_pairs_are_unordered_and_never_a_record_with_itself():
    truth = {("r2", "r1"), ("r3", "r1"), ("r2", "r3")}
    quality = linkage_eval.pair_quality([("r1", "r2"), ("r2", "r1"), ("r3", "r3"), ("r3", "r1")], truth, dedup=True)
    assert (quality.correct, quality.predicted, quality.true) == (2, 2, 3)


def test_best_threshold_cuts_between_distinct_probabilities():
    left = ["a1", "a2", "a3", "a9", "a8", "a4"]
    right = ["b1", "b2", "b3", "b9", "b8", "b4"]
    # a9-b9 is wrong and ties with a3-b3: both are kept or neither is.
    probability = [0.99, 0.9, 0.8, 0.8, 0.3, float("nan")]
    best = linkage_eval.best_threshold(left, right, probability, LINK_TRUTH)
    assert (best.correct, best.predicted, best.threshold, best.f1) == (3, 4, 0.8, 0.75)
    above = linkage_eval.quality_at(left, right, probability, LINK_TRUTH, 0.85)
    assert (above.correct, above.predicted, above.f1) == (2, 2, 2 / 3)


def test_household_members_have_different_first_names():
    population = person_data.make_population(3000, np.random.default_rng(4))
    members = list(zip(population.household.tolist(), population.first_name.tolist()))
    assert len(set(members)) == len(members)
    assert len(set(population.household.tolist())) < 2000  # households of several people are there


@pytest.mark.parametrize(
    ("slip", "born", "written"),
    [
        ({"dob_day_month_swap": 1.0}, "1980-03-07", {"1980-07-03"}),
        ({"dob_day_month_swap": 1.0}, "1980-03-17", {"1980-03-17"}),  # no 17th month
        ({"dob_day_off": 1.0}, "1980-03-31", {"1980-03-30", "1980-04-01"}),
        ({"dob_year_off": 1.0}, "1980-02-29", {"1979-02-28", "1981-02-28"}),
        ({"dob_missing": 1.0}, "1980-02-29", {None}),
    ],
    ids=[
        "day and month swapped",
        "no swap past the 12th",
        "a day off across a month end",
        "a year off from 29 February",
        "missing",
    ],
)
def test_birth_dates_slip_to_valid_dates(slip, born, written):
    rates = person_data.Corruption(
        **{"dob_missing": 0.0, "dob_day_month_swap": 0.0, "dob_day_off": 0.0, "dob_year_off": 0.0, **slip}
    )
    dates = np.full(40, np.datetime64(born))
    assert set(person_data._shifted_dates(dates, np.random.default_rng(0), rates)) == written
