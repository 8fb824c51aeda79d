import math
import random

import numpy as np
import pytest
import reference as ref
import vorn

import vornkit


@pytest.fixture(scope="module")
def vks(spark):
    """The module under test, imported once PySpark is known to be there."""
    import vornkit.spark

    return vornkit.spark


def clusters(labels):
    """A partition as a set of frozensets of positions."""
    groups = {}
    for position, label in enumerate(labels):
        groups.setdefault(label, set()).add(position)
    return {frozenset(g) for g in groups.values()}


def expected_labels(texts, threshold, shingle_size=3, num_hashes=128, bands=None):
    """Labels by the LSH index's candidates and the agreement rule; equal to
    vornkit.dedup's when bands is its default."""
    signatures = vornkit.minhash_signatures(texts, shingle_size, num_hashes)
    lsh = vornkit.MinHashLSH(threshold, num_hashes, bands=bands)
    lsh.add(np.arange(len(texts)), signatures)
    i, j = lsh.pairs()
    keep = vornkit.signature_agreement(signatures[i], signatures[j]) >= threshold
    labels = vornkit.connected_components(i[keep], j[keep], len(texts))
    if bands is None:
        dedup = vornkit.dedup(texts, threshold=threshold, shingle_size=shingle_size, num_hashes=num_hashes)
        assert list(labels) == list(dedup)
    return labels


def spark_labels(vks, spark, texts, ids, partitions, **kwargs):
    df = spark.createDataFrame(list(zip(ids, texts)), "doc_id long, body string").repartition(partitions)
    rows = vks.minhash_dedup(df, "body", id_col="doc_id", **kwargs).collect()
    component = {row["id"]: row["component"] for row in rows}
    assert len(rows) == len(texts)
    return [component[i] for i in ids]


@pytest.mark.parametrize(
    ("seed", "partitions", "kwargs"),
    [
        (1, 1, {"threshold": 0.8}),
        (2, 5, {"threshold": 0.7, "shingle_size": 4, "num_hashes": 64}),
        (3, 3, {"threshold": 0.9, "bands": 16}),
    ],
)
def test_minhash_dedup_equals_single_machine(spark, vks, seed, partitions, kwargs):
    texts = ref.planted_corpus(seed)
    expected = expected_labels(texts, **kwargs)
    assert len(clusters(expected)) < len(texts)  # the corpus has near-duplicates
    # Ids unrelated to positions: each component is its smallest id.
    rng = random.Random(seed)
    ids = rng.sample(range(10**12, 10**12 + 10**6), len(texts))
    labels = spark_labels(vks, spark, texts, ids, partitions, **kwargs)
    assert clusters(labels) == clusters(expected)
    for group in clusters(labels):
        assert {labels[p] for p in group} == {min(ids[p] for p in group)}


def test_minhash_dedup_without_duplicates_and_with_nulls(spark, vks):
    rng = random.Random(7)
    texts = [ref.document(rng, 40) for _ in range(50)] + [None, None]
    labels = spark_labels(vks, spark, texts, list(range(len(texts))), 3, threshold=0.8)
    assert labels == list(range(len(texts)))
    # Two identical texts and a null: the null stays alone.
    labels = spark_labels(vks, spark, ["same text here", None, "same text here"], [5, 3, 9], 2, threshold=0.8)
    assert labels == [5, 3, 5]


@pytest.mark.parametrize(
    ("id_type", "ids"),
    [
        ("string", ["b", "a", "01", "1", "z"]),  # "01" and "1" stay apart
        ("int", [30, 20, 1, -4, 7]),
        ("long", [2**62 + 1, 2**62, 5, 2**62 + 3, -(2**63)]),
    ],
)
def test_minhash_dedup_keeps_ids_exactly(spark, vks, id_type, ids):
    texts = ["same text here", "same text here", "other words entirely", "same text here", None]
    df = spark.createDataFrame(list(zip(ids, texts)), f"doc_id {id_type}, body string").repartition(2)
    got = {
        row["id"]: row["component"] for row in vks.minhash_dedup(df, "body", id_col="doc_id", threshold=0.8).collect()
    }
    smallest = min(ids[0], ids[1], ids[3])
    assert got == {ids[0]: smallest, ids[1]: smallest, ids[2]: ids[2], ids[3]: smallest, ids[4]: ids[4]}


@pytest.mark.parametrize(
    ("schema", "rows", "error", "message"),
    [
        ("id double, body string", [(1.2, "x y z"), (1.7, "x y z")], TypeError, "integers or strings, not double"),
        ("id decimal(4,1), body string", [(None, "a")], TypeError, "integers or strings"),
        ("id long, body string", [(3, "a b c"), (3, "d e f")], ValueError, "id 3 2 times"),
        ("id string, body string", [("k", "a"), ("k", "b")], ValueError, "id 'k' 2 times"),
        ("id long, body string", [(1, "a b c"), (None, "a b c")], ValueError, "null id"),
    ],
)
def test_minhash_dedup_refuses_bad_ids(spark, vks, schema, rows, error, message):
    df = spark.createDataFrame(rows, schema)
    with pytest.raises(error, match=message):
        vks.minhash_dedup(df, "body", id_col="id", threshold=0.8)


@pytest.mark.parametrize("shingle_size", [-1, 2**64 + 3])
def test_minhash_dedup_refuses_sizes_beyond_64_bits(spark, vks, shingle_size):
    df = spark.createDataFrame([(1, "x y z")], "id long, body string")
    with pytest.raises(OverflowError):
        vks.minhash_dedup(df, "body", id_col="id", threshold=0.8, shingle_size=shingle_size)


def test_components_of_long_chains(spark, vks):
    # A path 0-1-...-n in shuffled order and a star, in one edge list.
    n = 40
    rng = random.Random(3)
    edges = [(i, i + 1) for i in range(n)] + [(1000, 1000 + k) for k in range(1, 30)] + [(7, 7)]
    rng.shuffle(edges)
    df = spark.createDataFrame(edges, "src long, dst long")
    from vornkit._spark_common import components

    got = {row["node"]: row["component"] for row in components(df).collect()}
    expected = vornkit.connected_components(np.array([e[0] for e in edges]), np.array([e[1] for e in edges]), 1030)
    assert got == {node: int(expected[node]) for node in got}
    assert set(got) == set(range(1, n + 1)) | set(range(1001, 1030))


@pytest.mark.parametrize(
    ("scorer", "kwargs"),
    [
        (vorn.levenshtein_distance, {}),
        (vorn.jaro_winkler_similarity, {}),
        (vorn.jaccard_similarity, {"n": 2}),
        (vorn.minhash_similarity, {"shingle_size": 2, "num_hashes": 16}),
    ],
)
def test_score_equals_vorn(spark, vks, scorer, kwargs):
    rng = random.Random(11)
    alphabet = "abcdé ñ"

    def text():
        return None if rng.random() < 0.15 else "".join(rng.choice(alphabet) for _ in range(rng.randint(0, 12)))

    pairs = [(text(), text()) for _ in range(300)]
    df = spark.createDataFrame(pairs, "a string, b string").repartition(3)
    # Batches of 7 rows: null masks of every length and bit position.
    spark.conf.set("spark.sql.execution.arrow.maxRecordsPerBatch", "7")
    try:
        got = df.select("a", "b", vks.score("a", "b", scorer=scorer, scorer_kwargs=kwargs).alias("s")).collect()
    finally:
        spark.conf.unset("spark.sql.execution.arrow.maxRecordsPerBatch")
    assert len(got) == len(pairs)
    for row in got:
        if row["a"] is None or row["b"] is None:
            assert row["s"] is None
            continue
        expected = scorer(row["a"], row["b"], **kwargs)
        assert row["s"] == expected or (math.isnan(expected) and math.isnan(row["s"]))


def test_score_with_processor(spark, vks):
    processor = vorn.Preprocessor().with_remove_stopwords(True).with_stopwords(["the"])
    pairs = [("The  Cat", "cat"), (None, "the"), ("the dog", "THE DOG ")]
    df = spark.createDataFrame(pairs, "a string, b string").coalesce(1)
    got = df.select(vks.score("a", "b", scorer=vorn.levenshtein_similarity, processor=processor).alias("s")).collect()
    assert [row["s"] for row in got] == [
        None if a is None else vorn.levenshtein_similarity(processor.process(a), processor.process(b)) for a, b in pairs
    ]


def test_bad_arguments(spark, vks):
    df = spark.createDataFrame([(1, "x")], "id long, text string")
    with pytest.raises(ValueError, match="threshold"):
        vks.minhash_dedup(df, "text", id_col="id", threshold=1.5)
    with pytest.raises(ValueError, match="no column 'body'"):
        vks.minhash_dedup(df, "body", id_col="id", threshold=0.8)
    with pytest.raises(TypeError):
        vks.score("text", "text", scorer=len)


@pytest.mark.parametrize("partitions", [1, 7, 64])
def test_partition_labels_reach_their_partition(spark, partitions):
    from pyspark.sql import functions as F

    from vornkit._spark_common import partition_labels

    labels = partition_labels(spark, partitions)
    df = spark.createDataFrame([(int(label), p) for p, label in enumerate(labels)], "tag int, p int")
    placed = df.repartition(partitions, "tag").select("p", F.spark_partition_id().alias("at")).collect()
    assert sorted((row["p"], row["at"]) for row in placed) == [(p, p) for p in range(partitions)]


def test_shipped_tables_are_received_whole(spark):
    """Rows in order of destination arrive in their partition's table, nulls, strings and lists
    intact; a column that one sender lacks is null in its rows."""
    import pyarrow as pa

    from vornkit._spark_common import received, shipped

    labels = np.array([10, 20, 30], dtype=np.int32)
    first = pa.table({"k": [1, 2, 3, 4], "text": ["a", None, "ü" * 3, ""], "bands": [[1], None, [2, 3], []]})
    second = pa.table({"k": [5], "other": [1.5]})
    sent = list(shipped(first, np.array([0, 0, 2, 2]), labels)) + list(shipped(second, np.array([2]), labels))
    assert [batch.column("tag")[0].as_py() for batch in sent] == [10, 30, 30]
    assert received(iter(sent[:1])).to_pylist() == first.slice(0, 2).to_pylist()
    last = received(iter(sent[1:]))
    assert last.column("k").to_pylist() == [3, 4, 5]
    assert last.column("text").to_pylist() == ["üüü", "", None]
    assert last.column("bands").to_pylist() == [[2, 3], [], None]
    assert last.column("other").to_pylist() == [None, None, 1.5]
    assert received(iter([])) is None


@pytest.mark.parametrize("second_encoded", [True, False], ids=["both-dictionaries", "one-plain"])
def test_dictionary_columns_are_received_with_one_dictionary(spark, second_encoded):
    """A slice of a dictionary column is shipped with the values it uses only; the received
    column has one dictionary, each value once, whether the other sender encoded it or not."""
    import pyarrow as pa

    from vornkit._spark_common import destination_order, received, shipped, untagged

    labels = np.array([10, 20], dtype=np.int32)
    values = ["x", "y", None, "z", "y", "w", "x", "v"]
    first = pa.table({"text": pa.array(values).dictionary_encode(), "k": range(8)})
    destination = np.array([1, 0, 1, 0, 0, 1, 1, 0])
    order = destination_order(destination)
    assert order.tolist() == [1, 3, 4, 7, 0, 2, 5, 6]
    sent = list(shipped(first.take(pa.array(order)), destination[order], labels))
    cut = dict(untagged(iter(sent)))[20].column("text").chunk(0)
    assert cut.to_pylist() == ["x", None, "w", "x"] and sorted(cut.dictionary.to_pylist()) == ["w", "x"]
    second = pa.array(["y", "x", "u"])
    second = pa.table({"text": second.dictionary_encode() if second_encoded else second, "k": [8, 9, 10]})
    sent += list(shipped(second, np.array([1, 1, 1]), labels))
    found = received(iter(sent[1:]))
    assert found.column("k").to_pylist() == [0, 2, 5, 6, 8, 9, 10]
    text = found.column("text").chunk(0)
    assert text.to_pylist() == ["x", None, "w", "x", "y", "x", "u"]
    assert pa.types.is_dictionary(text.type) == second_encoded
    if second_encoded:
        dictionary = text.dictionary.to_pylist()
        assert len(dictionary) == len(set(dictionary))
