"""vornkit.spark.link and link_clusters against the local linkage API, exactly."""

import importlib.util
import re
import sys
from pathlib import Path

import numpy as np
import pyarrow as pa
import pytest

import vornkit
from vornkit import BlockingRule, LinkageModel

BENCH = Path(__file__).resolve().parents[2] / "bench"
FIELDS = ["first_name", "surname", "dob", "city", "postcode", "phone"]
RULES = [
    BlockingRule(("surname",)),
    BlockingRule(("dob", "postcode"), keys=("exact", "first:2")),
    BlockingRule.minhash(("first_name", "surname"), bands=6, rows=3, max_group=40),
]


def _person_data():
    module_spec = importlib.util.spec_from_file_location("bench_person_data", BENCH / "person_data.py")
    module = importlib.util.module_from_spec(module_spec)
    sys.modules[module_spec.name] = module  # dataclasses look their module up by name
    module_spec.loader.exec_module(module)
    return module


person_data = _person_data()


@pytest.fixture(scope="module")
def vks(spark):
    import vornkit.spark

    return vornkit.spark


@pytest.fixture(scope="module")
def records():
    """500 person records, sorted by id (the local row order is the id order), a few with every
    field missing, and one city shared by 40% of them (a skewed key)."""
    table = person_data.make_dedup_table(500, seed=11, duplicate_rate=0.3)
    table = {name: table[name] for name in ["id", *FIELDS]}
    for row in range(0, 500, 5):
        table["city"][row] = "springfield"
    for row in (3, 250):
        for name in FIELDS:
            table[name][row] = None
    return table


@pytest.fixture(scope="module")
def model(records):
    return LinkageModel(FIELDS).fit(records, blocking=RULES)


def frame(spark, table, id_type="string", partitions=2):
    names = list(table)
    schema = ", ".join(f"{name} {id_type if name == 'id' else 'string'}" for name in names)
    return spark.createDataFrame(list(zip(*table.values())), schema).repartition(partitions)


def local_pairs(result):
    return {(str(a), str(b), p) for a, b, p in zip(result.left_id, result.right_id, result.match_probability)}


def spark_pairs(df):
    rows = df.collect()
    pairs = {(str(row["left_id"]), str(row["right_id"]), row["match_probability"]) for row in rows}
    assert len(pairs) == len(rows)  # each pair once
    return pairs


@pytest.mark.parametrize(("partitions", "weigh_rows", "records_at_once"), [(1, 1 << 16, 1 << 16), (5, 37, 97)])
@pytest.mark.parametrize("threshold", [0.5, 0.01])
def test_dedup_equals_local(
    spark, vks, records, model, partitions, weigh_rows, records_at_once, threshold, monkeypatch
):
    """Equal at two partitionings, and with the pairs weighed in many small batches, cut inside
    key runs, and the records prepared, counted and shipped in many small chunks."""
    from vornkit import _spark_linkage

    monkeypatch.setattr(_spark_linkage, "WEIGH_ROWS", weigh_rows)
    for name in ("PREPARE_RECORDS", "SEND_RECORDS"):
        monkeypatch.setattr(_spark_linkage, name, records_at_once)
    local = vornkit.link_records(records, model=model, blocking=RULES, id="id", threshold=threshold)
    lines = []
    df = frame(spark, records, partitions=partitions)
    found = vks.link(df, id="id", model=model, blocking=RULES, threshold=threshold, report=lines.append)
    pairs = spark_pairs(found)
    assert len(local) > 50
    assert pairs == local_pairs(local)
    assert all(a < b for a, b, _ in pairs)
    # The estimates are reported before the join, as the local call reports them.
    expected = []
    vornkit.link_records(records, model=model, blocking=RULES, threshold=threshold, report=expected.append)
    assert lines == expected


@pytest.mark.parametrize("listed", [True, False], ids=["keys-listed", "too-many-keys-to-list"])
def test_keys_sharing_a_hash(spark, vks, records, model, listed, monkeypatch):
    """Every exact key, id and term value hashed alike: each rule's records form one run, yet only
    pairs that share a key are made, and the term values' counts are joined, not looked up by
    hash. With too many keys to list, every key's rows are sent, those of keys of one record and
    of skipped buckets too: the same pairs."""
    from vornkit import _spark_linkage

    monkeypatch.setattr(_spark_linkage, "HASH_BITS", 0)
    if not listed:
        monkeypatch.setattr(_spark_linkage, "BROADCAST_ROWS", 0)
    local = vornkit.link_records(records, model=model, blocking=RULES, id="id", threshold=0.0)
    found = vks.link(frame(spark, records, partitions=3), id="id", model=model, blocking=RULES, threshold=0.0)
    assert spark_pairs(found) == local_pairs(local)


def test_term_counts_are_kept_apart_by_field(spark, vks, records):
    """A value common in one term field and present in another is counted in each field alone:
    20 surnames set to the commonest first name weigh as 20, not as that name's first-name count."""
    common = max(set(records["first_name"]) - {None}, key=records["first_name"].count)
    table = {name: list(values) for name, values in records.items()}
    for row in range(1, 500, 25):
        table["surname"][row] = common
    model = LinkageModel(FIELDS).fit(table, blocking=RULES)
    assert model.fields[0].term_frequency and model.fields[1].term_frequency
    local = vornkit.link_records(table, model=model, blocking=RULES, id="id", threshold=0.01)
    found = vks.link(frame(spark, table, partitions=3), id="id", model=model, blocking=RULES, threshold=0.01)
    assert spark_pairs(found) == local_pairs(local)


def test_values_that_are_not_plain_strings(spark, vks, records):
    """Numbers are read as the local linkage reads them (a double's NaN is missing), and "", blanks
    and values that preprocessing changes are prepared alike."""
    table = {name: list(values) for name, values in records.items()}
    table["phone"] = [float("nan") if k % 7 == 0 else float(k % 40) for k in range(500)]
    for row in range(0, 500, 9):
        table["surname"][row] = ("", "   ", "Ñúñez", "ÑUÑEZ ")[row % 4]
    model = LinkageModel(FIELDS).fit(table, blocking=RULES)
    local = vornkit.link_records(table, model=model, blocking=RULES, id="id", threshold=0.01)
    schema = ", ".join(f"{name} {'double' if name == 'phone' else 'string'}" for name in table)
    df = spark.createDataFrame(list(zip(*table.values())), schema).repartition(3)
    found = vks.link(df, id="id", model=model, blocking=RULES, threshold=0.01)
    assert len(local) > 50
    assert spark_pairs(found) == local_pairs(local)


@pytest.mark.parametrize(
    "layout",
    [
        lambda values: pa.array(values, pa.string()),
        lambda values: pa.array(values, pa.large_string()),
        lambda values: pa.array(values, pa.string_view()),
        lambda values: pa.array(["pad", *values], pa.string()).slice(1),
        lambda values: (
            pa.array(values, pa.string())
            .dictionary_encode()
            .dictionary.take(pa.array(values, pa.string()).dictionary_encode().indices)
        ),
    ],
    ids=["string", "large", "view", "sliced", "taken"],
)
@pytest.mark.parametrize("repeats", [1, 200], ids=["once", "repeated"])
def test_text_hashes_depend_on_the_text_alone(spark, layout, repeats):
    """Term values are looked up by hash: a value hashes alike however its array is laid out, and
    whether it is hashed alone or once for all its repeats; values differing in one byte, in
    order or in length do not share a hash."""
    from vornkit._spark_linkage import HASH_DISTINCT_FROM, _text_hashes

    values = ["", "a", "ab", "ba", "abc", "smith", "smiht", "ñ", "n\u0303", "x" * 300, "x" * 301, None, "smith"]
    assert (len(values) * repeats >= HASH_DISTINCT_FROM) == (repeats > 1)
    expected = np.tile(_text_hashes(pa.array(values, pa.string())), repeats)
    hashes = _text_hashes(layout(values * repeats))
    present = [k for k, value in enumerate(values * repeats) if value is not None]
    assert hashes[present].tolist() == expected[present].tolist()
    first = present[: len(present) // repeats]
    assert len(set(hashes[first[:-1]].tolist())) == len(first) - 1  # "smith" twice
    assert hashes[first[-1]] == hashes[values.index("smith")]


@pytest.mark.parametrize("listed", [0, 1, 63, 64, 65, 100_000])
def test_key_filter_holds_every_listed_key(spark, listed):
    """The filter of the keys that make pairs may pass other keys (work, never a pair) but must never
    drop a listed one: codes at the first and last bit of a word, and of the bitmap, included."""
    from vornkit._spark_linkage import FILTER_BITS_PER_KEY, _KeyFilter

    rng = np.random.default_rng(listed)
    codes = rng.integers(0, 2**64, listed, dtype=np.uint64, endpoint=False)
    edges = np.array([0, 63 << 52, 1 << 58, 2**64 - 1], dtype=np.uint64)
    key_filter = _KeyFilter(np.concatenate([codes, edges]))
    assert key_filter.may_hold(np.concatenate([codes, edges])).all()
    others = rng.integers(0, 2**64, 200_000, dtype=np.uint64, endpoint=False)
    assert key_filter.may_hold(others).mean() < 2 / FILTER_BITS_PER_KEY


@pytest.mark.parametrize("collide", [False, True], ids=["distinct-codes", "shared-code"])
def test_key_counts_of_keys_sharing_a_code(spark, model, collide):
    """The owners of the key counts group them by (slot, key), not by the keys' 64-bit codes: two keys
    sharing a code are still counted apart, each from its own rows."""
    from vornkit._spark_common import tagged, untagged
    from vornkit._spark_linkage import _COUNTED, _code, _Plan, _receive_counts

    plan = _Plan(model=model, columns=FIELDS, rules=RULES[:2], term_fields=[])
    key = 12345
    # slot 1's key chosen so that (0, key) and (1, other) share a code, or not
    other = key ^ (1 << 48) if collide else key + 1
    assert (_code(0, np.array([key]))[0] == _code(1, np.array([other]))[0]) == collide
    slots = [0, 1, 0, 1, 0, 1, 1]
    keys = [key, other, key, other, key, other, other]
    n_left = [1, 2, 3, 1, 1, 2, 1]  # as counted by several sending tasks
    counts = pa.table({"slot": pa.array(slots, pa.int32()), "key": pa.array(keys, pa.int64()), "n_left": n_left})
    found = dict(untagged(list(_receive_counts(plan, True, 2_000, 1_000)(iter([tagged(0, counts)])))))
    # 5 records share slot 0's key (10 pairs), 6 share slot 1's key (15 pairs)
    assert found[_COUNTED].column("pairs").to_pylist() == [10, 15]
    assert found[_COUNTED].column("keys").to_pylist() == [1, 1]


def test_skewed_key_is_spread_and_exact(spark, vks, records, model):
    """A key of 200 records split over many tasks gives the same pairs as one task."""
    rules = [BlockingRule(("city",))]
    local = vornkit.link_records(records, model=model, blocking=rules, id="id", threshold=0.2)
    df = frame(spark, records, partitions=3)
    lines = []
    spread = vks.link(df, id="id", model=model, blocking=rules, threshold=0.2, skew_rows=7, report=lines.append)
    assert spark_pairs(spread) == local_pairs(local)
    # springfield's 100 records alone make ceil(100 / 7) = 15 parts
    keys, tasks = map(
        int, re.fullmatch(r"blocking: (\d+) keys of more than 7 records spread over (\d+) tasks", lines[-1]).groups()
    )
    assert tasks >= keys + 14


@pytest.mark.parametrize(("right_id_type", "skew_rows"), [("long", 2_000), ("string", 3)])
def test_link_two_tables(spark, vks, right_id_type, skew_rows):
    """Integer ids on the left, integer or string ids on the right; keys of more than three left
    records split into parts, the right records copied into each."""
    left, right = person_data.make_link_tables(400, seed=4)
    rng = np.random.default_rng(4)
    tables = []
    for table in (left, right):
        ids = rng.choice(10**12, size=len(table["id"]), replace=False)
        order = np.argsort(ids)
        columns = {"id": ids[order].tolist()}
        columns.update({name: [table[name][k] for k in order] for name in FIELDS})
        tables.append(columns)
    if right_id_type == "string":
        tables[1]["id"] = [f"r{value}" for value in tables[1]["id"]]
    model = LinkageModel(FIELDS).fit(tables[0], tables[1], blocking=RULES)
    local = vornkit.link_records(tables[0], tables[1], model=model, blocking=RULES, id="id")
    found = vks.link(
        frame(spark, tables[0], "long", 3),
        frame(spark, tables[1], right_id_type, 2),
        id="id",
        model=model,
        blocking=RULES,
        skew_rows=skew_rows,
    )
    assert dict(found.dtypes)["left_id"] == "bigint"
    assert dict(found.dtypes)["right_id"] == ("bigint" if right_id_type == "long" else "string")
    assert len(local) > 100
    assert spark_pairs(found) == local_pairs(local)


def _people(rows):
    """A small table of the given (first_name, surname, dob, city, postcode, phone) rows, ids "a", "b", ..."""
    table = {"id": [chr(ord("a") + k) for k in range(len(rows))]}
    table.update({name: [row[k] for row in rows] for k, name in enumerate(FIELDS)})
    return table


SHARED_RULES = [
    BlockingRule.minhash(("first_name", "surname"), bands=4, rows=2, max_group=3),
    BlockingRule(("surname",)),
    BlockingRule(("dob", "postcode"), keys=("exact", "first:2")),
]


@pytest.mark.parametrize(
    ("rows", "expected"),
    [
        # a and b share the surname, dob & postcode and every band: one pair, weighed once
        (
            [
                ("anna", "smith", "1980-01-02", "york", "yo1 2ab", "0123"),
                ("anna", "smith", "1980-01-02", "leeds", "yo9 9zz", "0456"),
                ("carl", "brown", "1971-05-06", "hull", "hu1 1aa", "0789"),
            ],
            {("a", "b")},
        ),
        # Four records named alike overflow every band's bucket (max_group 3): the buckets are
        # skipped, not shared, so the pairs are made by the later rules (surname; dob & postcode).
        (
            [
                ("anna", "smith", "1980-01-02", "york", "yo1 2ab", "0123"),
                ("anna", "smith", "1981-03-04", "leeds", "ls1 2ab", "0456"),
                ("anna", "smith", "1990-07-08", "hull", "hu1 1aa", "0789"),
                ("anna", "smith", "1990-07-08", "hull", "hu3 4bb", "0789"),
            ],
            {("a", "b"), ("a", "c"), ("a", "d"), ("b", "c"), ("b", "d"), ("c", "d")},
        ),
    ],
    ids=["shared-by-rules-and-bands", "skipped-bucket-first"],
)
@pytest.mark.parametrize("listed", [True, False], ids=["keys-listed", "every-key-sent"])
def test_pairs_found_by_several_keys(spark, vks, model, rows, expected, listed, monkeypatch):
    """Sending every key's rows sends those of skipped buckets too: they make no pair."""
    from vornkit import _spark_linkage

    if not listed:
        monkeypatch.setattr(_spark_linkage, "BROADCAST_ROWS", 0)
    table = _people(rows)
    local = vornkit.link_records(table, model=model, blocking=SHARED_RULES, id="id", threshold=0.0)
    found = spark_pairs(
        vks.link(frame(spark, table, partitions=2), id="id", model=model, blocking=SHARED_RULES, threshold=0.0)
    )
    assert {(a, b) for a, b, _ in found} == expected
    assert found == local_pairs(local)


def test_pair_only_in_a_skipped_bucket_is_not_made(spark, vks, model):
    """A pair whose one shared key is a MinHash bucket skipped for its size is no candidate."""
    rules = SHARED_RULES[:1]
    table = _people([("anna", "smith", f"19{80 + k}-01-02", "york", f"p{k}", str(k)) for k in range(4)])
    local = vornkit.link_records(table, model=model, blocking=rules, id="id", threshold=0.0)
    found = vks.link(frame(spark, table, partitions=2), id="id", model=model, blocking=rules, threshold=0.0)
    assert len(local) == 0
    assert spark_pairs(found) == set()


def test_saved_model_on_new_rows(spark, vks, records, model, tmp_path):
    path = tmp_path / "model.json"
    model.save(path)
    fresh = person_data.make_dedup_table(300, seed=12)
    fresh = {name: fresh[name] for name in ["id", *FIELDS]}
    local = vornkit.link_records(fresh, model=LinkageModel.load(path), blocking=RULES, id="id")
    found = vks.link(frame(spark, fresh, partitions=4), id="id", model=str(path), blocking=RULES)
    assert len(local) > 10
    assert spark_pairs(found) == local_pairs(local)


def test_model_fitted_on_all_rows_of_a_small_table(spark, vks, records):
    """Without a model, one is fitted on the rows in id order: for a small table, all of them."""
    local = vornkit.link_records(records, on=FIELDS, blocking=RULES, id="id")
    found = vks.link(frame(spark, records, partitions=3), on=FIELDS, id="id", blocking=RULES)
    assert spark_pairs(found) == local_pairs(local)


@pytest.mark.parametrize("max_cluster_size", [None, 3])
def test_clusters_equal_local(spark, vks, records, model, max_cluster_size):
    threshold = 0.1
    local = vornkit.link_records(records, model=model, blocking=RULES, threshold=threshold)
    labels = local.clusters(threshold, max_cluster_size=max_cluster_size)
    rows = vks.link_clusters(
        frame(spark, records, partitions=3),
        id="id",
        model=model,
        blocking=RULES,
        threshold=threshold,
        max_cluster_size=max_cluster_size,
    ).collect()
    found = {row["id"]: row["cluster"] for row in rows}
    expected = {records["id"][k]: records["id"][label] for k, label in enumerate(labels)}
    assert len(set(expected.values())) < len(expected)
    if max_cluster_size is not None:
        assert (
            max(np.bincount(labels))
            <= max_cluster_size
            < max(np.bincount(local.clusters(threshold, max_cluster_size=None)))
        )
    assert found == expected


@pytest.mark.parametrize(
    ("rows", "schema", "kwargs", "error", "message"),
    [
        ([("a", "x"), ("a", "y")], "id string, surname string", {}, ValueError, "holds the id 'a' 2 times"),
        ([(None, "x"), ("b", "y")], "id string, surname string", {}, ValueError, "null id"),
        ([(1.5, "x")], "id double, surname string", {}, TypeError, "integers or strings"),
        ([("a", "x")], "id string, surname string", {"on": ["nope"]}, ValueError, "no column 'nope'"),
        ([("a", "x")], "id string, surname string", {"threshold": 1.5}, ValueError, "between 0 and 1"),
        ([("a", "x")], "id string, surname string", {"on": None, "model": 3}, TypeError, "LinkageModel"),
        ([("a", "x")], "id string, surname string", {"on": None}, ValueError, "on=..."),
        ([("a", "x")], "id string, surname string", {"skew_rows": 0}, ValueError, "skew_rows"),
    ],
)
def test_bad_arguments(spark, vks, rows, schema, kwargs, error, message):
    df = spark.createDataFrame(rows, schema)
    arguments = {"on": ["surname"], "id": "id", **kwargs}
    with pytest.raises(error, match=message):
        vks.link(df, **arguments)


def test_model_and_fields_together_and_local_tables(spark, vks, model):
    df = spark.createDataFrame([("a", "x")], "id string, surname string")
    with pytest.raises(ValueError, match="not both"):
        vks.link(df, on=["surname"], id="id", model=model)
    with pytest.raises(TypeError, match="Spark DataFrames"):
        vks.link({"id": ["a"], "surname": ["x"]}, on=["surname"], id="id")
    with pytest.raises(ValueError, match="holds the id 'b' 2 times"):
        vks.link(
            df, spark.createDataFrame([("b", "x"), ("b", "y")], "id string, surname string"), on=["surname"], id="id"
        )


def test_pair_limit_is_checked_before_the_join(spark, vks, records, model):
    df = frame(spark, records)
    with pytest.raises(vornkit.CandidateLimitError, match=r"blocking rule surname would make about [\d,]+ candidate"):
        vks.link(df, id="id", model=model, blocking=RULES, max_pairs=10)
    with pytest.raises(TypeError, match="deduplicates one DataFrame"):
        vks.link_clusters(df, id="id", model=model, right=df)


@pytest.mark.parametrize("blocking", [RULES, None], ids=["rules", "every-pair"])
@pytest.mark.parametrize("rows", [0, 3], ids=["no-records", "no-keys"])
def test_nothing_to_pair(spark, vks, model, blocking, rows):
    """No records, or records without a value in any blocking field: no pairs (without rules,
    every pair), and the local report of each rule's estimate."""
    table = _people([(None, None, None, "york", None, "0123")] * rows)
    lines, expected = [], []
    found = vks.link(frame(spark, table), id="id", model=model, blocking=blocking, threshold=0.0, report=lines.append)
    local = vornkit.link_records(table, model=model, blocking=blocking, id="id", threshold=0.0, report=expected.append)
    assert spark_pairs(found) == local_pairs(local)
    assert len(local) == (3 if rows and blocking is None else 0)
    if blocking is not None:
        assert lines == expected
