"""EditIndex: every result equals brute force over vorn.levenshtein_distance
and levenshtein_similarity, on any alphabet, length and distance; files
round-trip and damaged ones are refused; threshold_join through the index
returns what the pairwise join returns."""

import random
import struct
import threading

import harness
import numpy as np
import pytest
import reference as ref
import vorn
from test_index import resealed, sections

import vornkit
from vornkit import _edit_index

ALPHABETS = {
    "binary": "ab",
    "ascii": "abcd",
    "latin1": "aàáâãäåe",
    "cjk": "漢字中文日本語",
    "astral": "😀😁😂🙂𝄞",
    "mixed": "ab😀é漢\u0301",
}


def dictionary(rng, alphabet, count, max_length):
    """Random texts with repeats, empty texts, and near copies of each other."""
    texts = []
    for _ in range(count):
        roll = rng.random()
        if texts and roll < 0.15:
            texts.append(rng.choice(texts))
        elif texts and roll < 0.45:
            texts.append(ref.edited(rng, alphabet, rng.choice(texts), rng.randrange(1, 3))[:max_length])
        elif roll < 0.5:
            texts.append("")
        else:
            texts.append(ref.random_text(rng, alphabet, rng.randrange(max_length + 1)))
    return texts


def queries_for(rng, alphabet, texts, count, max_length):
    found = [ref.edited(rng, alphabet, rng.choice(texts), rng.randrange(0, 4)) for _ in range(count // 2) if texts]
    found += [ref.random_text(rng, alphabet, rng.randrange(max_length + 3)) for _ in range(count - len(found))]
    return found + [""]


def brute_force(query, texts, max_distance):
    found = [(vorn.levenshtein_distance(query, t), j) for j, t in enumerate(texts) if t is not None]
    found = sorted((d, j) for d, j in found if d <= max_distance)
    return [j for _, j in found], [d for d, _ in found]


def assert_matches(index, queries, texts, distances):
    for k in distances:
        q_index, c_index, found = index.query_many(queries, k)
        for q, query in enumerate(queries):
            rows = q_index == q
            assert (c_index[rows].tolist(), found[rows].tolist()) == brute_force(query, texts, k), (query, k)


@pytest.mark.parametrize("alphabet", ALPHABETS)
@pytest.mark.parametrize("max_length", [3, 12, 40])
def test_every_distance_equals_brute_force(alphabet, max_length):
    rng = random.Random(f"{alphabet}{max_length}")
    letters = ALPHABETS[alphabet]
    texts = dictionary(rng, letters, 300, max_length)
    index = vornkit.EditIndex(texts)
    assert len(index) == len(texts)
    assert_matches(index, queries_for(rng, letters, texts, 24, max_length), texts, range(5))


@pytest.mark.parametrize("seed", range(3))
def test_thousands_of_near_choices_cross_every_skip_level(seed):
    # Over 4096 entries with long shared prefixes: leaving a subtree takes
    # the per-entry, per-block and per-group minima.
    rng = random.Random(seed)
    texts = dictionary(rng, "abc", 9000, 10)
    index = vornkit.EditIndex(texts)
    assert_matches(index, queries_for(rng, "abc", texts, 12, 10), texts, [0, 1, 2, 3])


def test_distances_beyond_the_walk_scan_and_reach_every_length():
    rng = random.Random(5)
    texts = dictionary(rng, "ab😀", 200, 14)
    index = vornkit.EditIndex(texts)
    assert_matches(index, queries_for(rng, "ab😀", texts, 10, 14), texts, [8, 9, 12, 20, 2**40])


@pytest.mark.parametrize("k", range(6))
def test_walk_and_scan_agree(k):
    rng = random.Random(k)
    texts = dictionary(rng, "abcé", 500, 16)
    queries = queries_for(rng, "abcé", texts, 20, 16)
    index = vornkit.EditIndex(texts)
    walked, scanned = index.query_many(queries, k), index._scan_many(queries, k)
    for a, b in zip(walked, scanned):
        assert a.tolist() == b.tolist()


def test_query_returns_sorted_int64_arrays_and_nulls_never_match():
    texts = ["abc", None, "abd", "abc", "", float("nan"), "xyz"]
    index = vornkit.EditIndex(texts)
    assert len(index) == 7
    indices, distances = index.query("abc", 1)
    assert indices.dtype == np.int64 and distances.dtype == np.int64
    assert indices.tolist() == [0, 3, 2] and distances.tolist() == [0, 0, 1]
    assert index.query(None, 3)[0].tolist() == []
    assert index.query("", 0)[0].tolist() == [4]
    q, c, d = index.query_many(["xyz", None, "ab"], 1)
    assert (q.tolist(), c.tolist(), d.tolist()) == ([0, 2, 2, 2], [6, 0, 2, 3], [0, 1, 1, 1])


def test_empty_index():
    index = vornkit.EditIndex([])
    assert len(index) == 0 and index.query("a", 3)[0].tolist() == []


@pytest.mark.parametrize("workers", [2, 3])
def test_workers_give_the_same_result(workers):
    rng = random.Random(7)
    texts = dictionary(rng, "abcd", 2000, 12)
    queries = queries_for(rng, "abcd", texts, 300, 12)
    index = vornkit.EditIndex(texts)
    for a, b in zip(index.query_many(queries, 2), index.query_many(queries, 2, workers=workers)):
        assert a.tolist() == b.tolist()


@pytest.mark.parametrize("cutoff", [-1.0, 0.0, 0.5, 0.75, 0.8, 0.9, 1.0, 1.5])
def test_similarity_equals_brute_force(cutoff):
    rng = random.Random(str(cutoff))
    texts = dictionary(rng, "abcé😀", 150, 12)
    queries = queries_for(rng, "abcé😀", texts, 16, 12)
    q_index, c_index, found = vornkit.EditIndex(texts).query_similar_many(queries, cutoff)
    for q, query in enumerate(queries):
        scored = [(-vorn.levenshtein_similarity(query, t), j) for j, t in enumerate(texts)]
        expected = sorted((s, j) for s, j in scored if -s >= cutoff)
        rows = q_index == q
        assert c_index[rows].tolist() == [j for _, j in expected]
        assert found[rows].tolist() == [-s for s, _ in expected]  # bit for bit


def test_processor_applies_to_choices_and_queries(tmp_path):
    processor = vorn.Preprocessor().with_lowercase(True)
    index = vornkit.EditIndex(["Anna", "ANNE", "bob"], processor=processor)
    assert index.query("anNA", 1)[0].tolist() == [0, 1]
    index.save(tmp_path / "names.vkix")
    loaded = vornkit.EditIndex.load(tmp_path / "names.vkix", processor=processor)
    assert loaded.query("ANNA", 1)[0].tolist() == [0, 1]


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda i: i.query("a", -1), ValueError, "max_distance must not be negative"),
        (lambda i: i.query("a", 1.5), TypeError, "integer"),
        (lambda i: i.query(3, 1), TypeError, "query must be str or None, not 'int'"),
        (lambda i: i.query_similar("a", float("nan")), ValueError, "score_cutoff must not be NaN"),
        (lambda i: i.query_many(["a", 1], 1), TypeError, r"queries\[1\] must be str or None"),
        (lambda i: i.query_many(["a"], 1, workers=0), ValueError, "workers must be a positive count"),
    ],
)
def test_bad_arguments(call, error, message):
    with pytest.raises(error, match=message):
        call(vornkit.EditIndex(["a", "b"]))


def test_memory_is_within_four_times_the_text():
    rng = random.Random(3)
    texts = ["".join(rng.choice("bcdfgklmnprst") + rng.choice("aeiou") for _ in range(4)) for _ in range(5000)]
    index = vornkit.EditIndex(texts)
    assert index.memory_bytes <= 4 * sum(len(t.encode()) for t in texts)


# ---- files ----


def test_save_and_load_round_trip(tmp_path):
    rng = random.Random(11)
    texts = dictionary(rng, ALPHABETS["mixed"], 400, 10) + [None]
    queries = queries_for(rng, ALPHABETS["mixed"], texts[:-1], 20, 10)
    index = vornkit.EditIndex(texts)
    index.save(tmp_path / "index.vkix")
    loaded = vornkit.EditIndex.load(tmp_path / "index.vkix")
    assert len(loaded) == len(texts)
    for k in range(4):
        for a, b in zip(index.query_many(queries, k), loaded.query_many(queries, k)):
            assert a.tolist() == b.tolist()


def test_damaged_files_are_value_errors(tmp_path):
    path = tmp_path / "index.vkix"
    vornkit.EditIndex(["alpha", "beta", "gamma", "alpha"]).save(path)
    data = path.read_bytes()
    r = random.Random(2)
    bad = tmp_path / "bad.vkix"
    for position in sorted(r.sample(range(len(data)), 40)) + [len(data) - 1]:
        corrupted = bytearray(data)
        corrupted[position] ^= 1 << r.randrange(8)
        bad.write_bytes(corrupted)
        with pytest.raises(ValueError, match="corrupted|not a vornkit index file|malformed|truncated|another kind"):
            vornkit.EditIndex.load(bad)
    for size in (0, 50, len(data) - 1):
        bad.write_bytes(data[:size])
        with pytest.raises(ValueError, match="truncated|not a vornkit index file|malformed"):
            vornkit.EditIndex.load(bad)
    simhash = vornkit.SimHashIndex(2)
    simhash.save(bad)
    with pytest.raises(ValueError, match="another kind of index"):
        vornkit.EditIndex.load(bad)
    with pytest.raises(FileNotFoundError):
        vornkit.EditIndex.load(tmp_path / "missing.vkix")


def crafted_files(data):
    """Files whose checksums match but whose contents are inconsistent."""
    texts, offsets, choices, backward = (offset for offset, _, _ in sections(data))
    out = {}
    unsorted = bytearray(data)  # "ab" stored as "ba": the walks would miss choices
    unsorted[texts : texts + 2] = b"ba"
    out["unsorted"] = unsorted
    far = bytearray(data)
    struct.pack_into("<I", far, choices, 1 << 31)
    out["choice out of range"] = far
    repeated = bytearray(data)
    struct.pack_into("<I", repeated, choices, 1)
    out["repeated choice"] = repeated
    not_permutation = bytearray(data)
    struct.pack_into("<I", not_permutation, backward + 4, 0)
    out["backward order"] = not_permutation
    offset = bytearray(data)
    struct.pack_into("<Q", offset, offsets + 8, 5)
    out["offset"] = offset
    params = bytearray(data)
    struct.pack_into("<Q", params, 24 + 8, 1)
    out["parameters"] = params
    return {name: resealed(bytes(value)) for name, value in out.items()}


def test_crafted_files_are_refused_not_trusted(tmp_path):
    path = tmp_path / "index.vkix"
    vornkit.EditIndex(["a", "b", "c"]).save(path)
    data = path.read_bytes()
    assert resealed(data) == data
    bad = tmp_path / "bad.vkix"
    for name, content in crafted_files(data).items():
        bad.write_bytes(content)
        with pytest.raises(ValueError, match="malformed"):
            vornkit.EditIndex.load(bad)
            pytest.fail(name)


# ---- threshold_join ----


@pytest.fixture
def index_joins(monkeypatch):
    monkeypatch.setattr(_edit_index, "_JOIN_MIN_PAIRS", 0)


JOINS = [
    (vorn.levenshtein_distance, 0),
    (vorn.levenshtein_distance, 2),
    (vorn.levenshtein_distance, 4),
    (vorn.levenshtein_similarity, 0.8),
    (vorn.levenshtein_similarity, 0.9),
    (vorn.levenshtein_similarity, 1.0),
]


@pytest.mark.parametrize(("scorer", "cutoff"), JOINS)
@pytest.mark.parametrize("self_join", [False, True])
def test_threshold_join_through_the_index_equals_pairwise(monkeypatch, scorer, cutoff, self_join):
    rng = random.Random(f"{cutoff}{self_join}")
    texts = dictionary(rng, "abcdé", 400, 9) + [None]
    queries = None if self_join else queries_for(rng, "abcdé", texts[:-1], 60, 9) + [None]
    a = texts if self_join else queries
    monkeypatch.setattr(_edit_index, "_JOIN_MIN_PAIRS", 10**18)
    expected = vornkit.threshold_join(a, queries and texts, scorer=scorer, score_cutoff=cutoff, dtype=np.float32)
    monkeypatch.setattr(_edit_index, "_JOIN_MIN_PAIRS", 0)
    assert _edit_index.join_is_faster(scorer.__name__, cutoff, len(a), len(texts))
    got = vornkit.threshold_join(a, queries and texts, scorer=scorer, score_cutoff=cutoff, dtype=np.float32)
    for e, g in zip(expected, got):
        assert e.dtype == g.dtype and e.tolist() == g.tolist()


@pytest.mark.parametrize(
    ("name", "cutoff", "pairs", "taken"),
    [
        ("levenshtein_distance", 2, 10**7, True),
        ("levenshtein_distance", 5, 10**7, False),
        ("levenshtein_distance", 2.0, 10**7, False),
        ("levenshtein_distance", -1, 10**7, False),
        ("levenshtein_distance", 2, 10**3, False),
        ("levenshtein_similarity", 0.85, 10**7, True),
        ("levenshtein_similarity", 0.5, 10**7, False),
        ("levenshtein_similarity", float("nan"), 10**7, False),
        ("jaro_winkler_similarity", 0.9, 10**7, False),
    ],
)
def test_join_takes_the_index_only_where_it_pays(name, cutoff, pairs, taken):
    assert _edit_index.join_is_faster(name, cutoff, pairs, 1) is taken


def test_pairwise_join_errors_are_unchanged(index_joins):
    with pytest.raises(ValueError, match="must not be negative"):
        vornkit.threshold_join(["a"], ["b"], scorer=vorn.levenshtein_distance, score_cutoff=-1)
    with pytest.raises(TypeError):
        vornkit.threshold_join(["a"], ["b"], scorer=vorn.levenshtein_distance, score_cutoff=1.5)


# ---- threads and interrupts ----


@pytest.mark.parametrize("workers", [1, 2])
def test_ctrl_c_stops_a_search_quickly(workers):
    rng = random.Random(1)
    index = vornkit.EditIndex(["".join(rng.choice("abcdefgh") for _ in range(12)) for _ in range(50_000)])
    queries = ["".join(rng.choice("abcdefgh") for _ in range(12)) for _ in range(20_000)]
    # Distance 10 scans every choice: many seconds unless interrupted.
    harness.assert_interrupted_quickly(lambda: index.query_many(queries, 10, workers=workers))


def test_searches_release_the_interpreter_lock():
    rng = random.Random(4)
    index = vornkit.EditIndex(["".join(rng.choice("abcd") for _ in range(10)) for _ in range(30_000)])
    queries = ["".join(rng.choice("abcd") for _ in range(10)) for _ in range(200)]
    done = threading.Event()
    worker = threading.Thread(target=lambda: (index.query_many(queries, 9), done.set()))
    worker.start()
    spins = 0
    while not done.is_set():
        spins += 1
    worker.join()
    # Held for the whole search, the lock would leave this thread a few turns.
    assert spins > 10_000


# ---- leaks ----


@pytest.mark.parametrize(
    ("method", "args", "expect"),
    [
        ("query_many", (["abc", None, "abd"], 2), None),
        ("query_similar_many", (["abc", "xyz"], 0.5), None),
        ("query_many", (["abc", 5], 1), TypeError),
        ("query_many", (["abc"], -1), ValueError),
    ],
)
def test_searches_do_not_leak(no_leak, method, args, expect):
    index = vornkit.EditIndex(["abc", "abd", None, "xyzé"] * 20)
    no_leak(getattr(index, method), *args, expect=expect, calls=1000)


def test_building_and_loading_do_not_leak(no_leak, tmp_path):
    texts = ["abc", "abd", None, "xyzé"] * 20
    vornkit.EditIndex(texts).save(tmp_path / "index.vkix")
    no_leak(vornkit.EditIndex, texts, calls=1000)
    no_leak(vornkit.EditIndex.load, tmp_path / "index.vkix", calls=1000)
    (tmp_path / "bad.vkix").write_bytes(b"not an index")
    no_leak(vornkit.EditIndex.load, tmp_path / "bad.vkix", expect=ValueError, calls=1000)
