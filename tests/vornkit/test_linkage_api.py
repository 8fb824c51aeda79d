"""Linking and deduplicating generated people with known answers, through the public API:
tables of every kind, each unordered pair once, clusters, labels, explanations and charts."""

import gc
import importlib.util
import random
import re
import sys
from pathlib import Path

import numpy as np
import pytest

import vornkit
from vornkit import LinkageModel, link_records
from vornkit._records import RecordsError

FIRST = "anna bernard carla dmitri eleanor farid gina hugo ines jakob kiri liam maria noor oskar priya".split()
FIRST += "quentin rosa samir tove ulla victor wanda yusuf".split()
LAST = "smith okafor lindqvist moreau tanaka kowalski haddad fernandes novak brennan achterberg zielinski".split()
LAST += ["castellano", "oyelaran", "marchetti", "van dijk", "nakamura", "eriksen"]


def typo(word, rng):
    if len(word) < 3:
        return word
    k = rng.randrange(len(word) - 1)
    return word[:k] + word[k + 1] + word[k] + word[k + 2 :] if rng.random() < 0.5 else word[:k] + word[k + 1 :]


def person(rng, household=None):
    last, zip_code = household or (rng.choice(LAST), f"{rng.randrange(1000, 9999)}")
    return {
        "first": rng.choice(FIRST),
        "last": last,
        "dob": f"{rng.randrange(1940, 2005)}{rng.randrange(1, 13):02d}{rng.randrange(1, 29):02d}",
        "zip": zip_code,
    }


def corrupted(record, rng):
    out = dict(record)
    for field in ("first", "last"):
        if rng.random() < 0.3:
            out[field] = typo(out[field], rng)
    if rng.random() < 0.15:
        out["dob"] = out["dob"][:6] + f"{rng.randrange(1, 29):02d}"
    if rng.random() < 0.1:
        out[rng.choice(["first", "zip", "dob"])] = None
    return out


def people(n, seed):
    """n people, a third of them in households of two (same surname and zip code)."""
    rng = random.Random(seed)
    population = []
    while len(population) < n:
        first = person(rng)
        population.append(first)
        if rng.random() < 0.5:
            population.append(person(rng, (first["last"], first["zip"])))
    return population[:n], rng


def f1(found, true):
    correct = len(found & true)
    precision, recall = correct / max(len(found), 1), correct / len(true)
    return 2 * precision * recall / (precision + recall) if correct else 0.0


def test_link_two_tables():
    population, rng = people(600, 1)
    left = [dict(p, key=f"L{k}") for k, p in enumerate(population)]
    right = [dict(corrupted(p, rng), key=f"R{k}") for k, p in enumerate(population) if k % 3]
    rng.shuffle(right)
    columns = [{name: [row[name] for row in rows] for name in rows[0]} for rows in (left, right)]
    result = link_records(*columns, on=["first", "last", "dob", "zip"], id="key")
    found = set(zip(result.left_id.tolist(), result.right_id.tolist()))
    true = {(f"L{r['key'][1:]}", r["key"]) for r in right}
    assert f1(found, true) >= 0.97
    assert np.all(np.diff(result.match_weight) <= 0)  # best first
    assert np.all(result.match_probability >= 0.5)
    assert [f.kind for f in result.model.fields] == ["name", "name", "date", "code"]


def test_deduplicate_one_table():
    population, rng = people(500, 2)
    rows = []
    for k, p in enumerate(population):
        rows.append(dict(p, entity=k))
        for _ in range(rng.choice([0, 0, 1, 2])):
            rows.append(dict(corrupted(p, rng), entity=k))
    table = {name: [row[name] for row in rows] for name in ("first", "last", "dob", "zip")}
    result = link_records(table, on=["first", "last", "dob", "zip"])
    assert np.all(result.left < result.right)  # each unordered pair once
    assert len(set(zip(result.left.tolist(), result.right.tolist()))) == len(result)
    entity = [row["entity"] for row in rows]
    true = {(a, b) for a in range(len(rows)) for b in range(a + 1, len(rows)) if entity[a] == entity[b]}
    assert f1(set(zip(result.left.tolist(), result.right.tolist())), true) >= 0.95
    labels = result.clusters()
    assert labels.shape == (len(rows),)
    with pytest.raises(ValueError, match="predict with threshold=0.2"):
        result.clusters(0.2)  # the pairs below 0.5 are not in the result
    same = sum(labels[a] == labels[b] for a, b in true)
    assert same >= 0.95 * len(true)


def test_households_share_fields_compared_as_one():
    # Three people to a household (surname, street and zip code shared), half of them recorded
    # twice: the shared fields become one comparison, and relatives are not linked.
    rng = random.Random(8)
    streets = [f"{k} {rng.choice(LAST)} road" for k in range(1, 400)]
    rows, entity = [], []
    for household in range(300):
        shared = {"last": rng.choice(LAST), "street": rng.choice(streets), "zip": str(rng.randrange(1000, 9999))}
        for member in range(3):
            record = {**person(rng), **shared}
            for copy in range(1 + (rng.random() < 0.5)):
                rows.append(corrupted(record, rng) if copy else record)
                entity.append((household, member))
    table = {name: [row[name] for row in rows] for name in ("first", "last", "dob", "street", "zip")}
    result = link_records(table, on=list(table))
    assert result.model.groups == [("last", "street", "zip")]
    assert [f.name for f in result.model.compared] == ["first", "last+street+zip", "dob"]
    true = {(a, b) for a in range(len(rows)) for b in range(a + 1, len(rows)) if entity[a] == entity[b]}
    assert f1(set(zip(result.left.tolist(), result.right.tolist())), true) >= 0.95


def load_person_data():
    path = Path(__file__).resolve().parents[2] / "bench" / "person_data.py"
    if not path.exists():
        pytest.skip("bench/person_data.py not in this tree")
    module_spec = importlib.util.spec_from_file_location("bench_person_data_for_linkage", path)
    module = importlib.util.module_from_spec(module_spec)
    sys.modules[module_spec.name] = module  # dataclasses look their module up by name
    module_spec.loader.exec_module(module)
    return module


def test_deduplicate_households_without_linking_relatives():
    # Generated people in households (surname, address, postcode and landline shared; first name
    # and birth date not), a fifth of the records further copies with typos, nicknames and moves.
    # Blocked (over two million pairs). Relatives must not be linked, nor moved copies lost.
    person_data = load_person_data()
    table = person_data.make_dedup_table(4000, seed=7, duplicate_rate=0.2)
    truth = person_data.true_dedup_pairs(table)
    result = link_records(person_data.without_truth(table), on=list(person_data.FIELDS), id="id")
    assert result.model.related is None and result.blocking.rules
    assert any({"street", "postcode"} <= set(group) for group in result.model.groups)
    found = {(a, b) if a < b else (b, a) for a, b in zip(result.left_id.tolist(), result.right_id.tolist())}
    assert f1(found, truth) >= 0.965  # the three-class model: 0.947


def test_labels_give_m_directly():
    population, rng = people(300, 4)
    right = [corrupted(p, rng) for p in population]
    columns = [{name: [row[name] for row in rows] for name in ("first", "last", "dob", "zip")}
               for rows in (population, right)]  # fmt: skip
    model = LinkageModel(["first", "last", "dob", "zip"]).fit(*columns, labels=[(k, k) for k in range(100)])
    last = model.fields[1]
    labelled = np.array([left == right for left, right in zip(columns[0]["last"][:100], columns[1]["last"][:100])])
    # m of the exact level: the labelled pairs' share, with the pseudo-count of every level
    counts = np.bincount(
        vornkit._comparisons.levels(
            vornkit._comparisons.encode(last, columns[0]["last"], columns[1]["last"]), np.arange(100), np.arange(100)
        ),
        minlength=last.level_count,
    )
    assert counts[-1] == labelled.sum()
    assert model.m[1][-1] == pytest.approx((counts[-1] + 0.5) / (100 + 0.5 * last.level_count))


def frames(columns):
    pandas = pytest.importorskip("pandas")
    polars = pytest.importorskip("polars")
    pyarrow = pytest.importorskip("pyarrow")
    return {
        "dict": columns,
        "pandas": pandas.DataFrame(columns),
        "polars": polars.DataFrame(columns),
        "arrow": pyarrow.table(columns),
    }


def test_tables_of_every_kind_give_one_answer():
    population, _ = people(120, 5)
    columns = {name: [row[name] for row in population] for name in ("first", "last", "dob", "zip")}
    columns["dob"] = [None if k % 7 == 0 else v for k, v in enumerate(columns["dob"])]
    results = {kind: link_records(table, on=["first", "last", "dob"], threshold=0.01, seed=3)
               for kind, table in frames(columns).items()}  # fmt: skip
    reference = results.pop("dict")
    for result in results.values():
        assert np.array_equal(result.left, reference.left) and np.array_equal(result.right, reference.right)
        assert np.array_equal(result.match_weight, reference.match_weight)


def test_numbers_and_missing_values_in_frames():
    pandas = pytest.importorskip("pandas")
    frame = pandas.DataFrame({"name": ["ann", None, "ann", "bo"], "age": [30, 41, 30, float("nan")]})
    result = link_records(frame, on=["name", "age"], threshold=0.0)
    assert len(result) == 6
    first = {(int(a), int(b)): int(level) for a, b, level in zip(result.left, result.right, result.levels["age"])}
    assert first[0, 2] == result.model.fields[1].level_count - 1  # 30 and 30.0 -> "30" and "30"
    assert first[0, 3] == -1 and first[1, 3] == -1  # NaN is missing


@pytest.mark.parametrize("linking", [False, True])
def test_date_field_without_any_value(linking):
    """A date field missing in every record (of the table, or of both tables) is missing in every
    pair, also when a rule blocks on a key derived from it."""
    population, _ = people(200, 5)
    table = {name: [row[name] for row in population] for name in ("first", "last", "dob", "zip")}
    model = LinkageModel(["first", "last", "dob", "zip"]).fit(table)
    empty = dict(table, dob=[None] * len(population))
    rules = [vornkit.BlockingRule(("last",)), vornkit.BlockingRule(("dob", "zip"), keys=("first:4", "exact"))]
    tables = (empty, empty) if linking else (empty,)
    result = model.predict(*tables, threshold=0.0, blocking=rules)
    assert len(result) > 0
    assert set(result.levels["dob"].tolist()) == {-1}


@pytest.mark.parametrize(
    ("table", "message"),
    [
        ({"name": ["a"]}, "no column 'zip' (columns: name)"),
        ({"name": ["a", "b"], "zip": ["1"]}, "column 'zip' has 1 values, 'name' has 2"),
        ([["a"]], "cannot read a list as a table"),
    ],
)
def test_bad_tables(table, message):
    with pytest.raises(RecordsError, match=re.escape(message)):
        link_records(table, on=["name", "zip"])


@pytest.mark.parametrize("enabled", [True, False])
def test_garbage_collector_state_is_the_callers_after_a_linkage(enabled):
    # The collector is paused while linking: on return, and on an error, it is as the caller left it.
    table = {"name": ["anna", "anne", "bob"], "zip": ["1", "1", "2"]}
    (gc.enable if enabled else gc.disable)()
    try:
        link_records(table, on=["name", "zip"])
        assert gc.isenabled() is enabled
        with pytest.raises(RecordsError):
            link_records(table, on=["name", "city"])
        assert gc.isenabled() is enabled
    finally:
        gc.enable()


def test_outputs_and_explanations(tmp_path):
    population, rng = people(200, 6)
    right = [corrupted(p, rng) for p in population]
    columns = [{name: [row[name] for row in rows] for name in ("first", "last", "dob", "zip")}
               for rows in (population, right)]  # fmt: skip
    result = link_records(*columns, on=["first", "last", "dob", "zip"])
    data = result.to_dict("both")
    assert list(data)[:4] == ["left_id", "right_id", "match_probability", "match_weight"]
    compared = [field.name for field in result.model.compared]
    assert list(data)[4:] == [f"{name}_{part}" for name in compared for part in ("level", "weight")]
    steps = result.explain(0)
    related = [] if result.model.related is None else ["differing copies" if result.model.related_matches
                                                         else "related records"]  # fmt: skip
    assert steps["step"] == ["prior", *compared, *related, "match weight"]
    assert steps["cumulative"][-2] == pytest.approx(result.match_weight[0])
    assert steps["cumulative"][-1] == result.match_weight[0]
    with pytest.raises(IndexError):
        result.explain(len(result))
    table = result.model.table()
    assert set(table["field"]) == set(compared) and table["name"][0] == "exact"
    pytest.importorskip("matplotlib")
    for path in (result.model.chart(tmp_path / "model.png"), result.explain_chart(0, tmp_path / "pair.png")):
        assert path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
