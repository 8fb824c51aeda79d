"""The linkage's grouping of keys by hashing, against NumPy's sorting, and the steps built on it:
agreement levels, co-agreement counts, field kinds."""

import numpy as np
import pytest
import vorn

import vornkit
from vornkit import _blocking, _comparisons, _fellegi_sunter, _native, _records
from vornkit._comparisons import Field

INT64_MIN, INT64_MAX = np.iinfo(np.int64).min, np.iinfo(np.int64).max


def key_columns():
    rng = np.random.default_rng(7)
    return {
        "empty": np.zeros(0, dtype=np.int64),
        "one": np.array([5], dtype=np.int64),
        # 0 is the hash table's free key; the extremes are ordinary keys
        "free key and extremes": np.array([0, INT64_MIN, 0, INT64_MAX, -1, 0, INT64_MIN], dtype=np.int64),
        # past the table's first size (2**14 keys) and a stop check (2**20 keys)
        "many distinct": rng.permutation(np.arange(-50_000, 1_100_000, dtype=np.int64)),
        "few repeated": rng.integers(-3, 4, size=200_000).astype(np.int64) * (1 << 40),
        # one key for the table's first 2**14 keys, then all new: the table grows as it goes
        "distinct late": np.r_[np.zeros(20_000, np.int64), np.arange(1, 300_000, dtype=np.int64)],
        # above 2**63: as unsigned, the order is not the signed one
        "uint64": np.array([1 << 63, 3, (1 << 64) - 1, 3, 0, 1 << 63], dtype=np.uint64),
    }


@pytest.mark.parametrize("name", list(key_columns()))
def test_group_keys_is_numpy_unique(name):
    keys = key_columns()[name]
    distinct, first, inverse, counts = np.unique(keys, return_index=True, return_inverse=True, return_counts=True)
    groups = _comparisons.group_keys(keys)
    assert groups.distinct.dtype == keys.dtype and groups.distinct.tolist() == distinct.tolist()
    assert groups.first.tolist() == first.tolist() and groups.counts.tolist() == counts.tolist()
    assert groups.inverse.tolist() == inverse.reshape(-1).tolist()


@pytest.mark.parametrize("name", ["free key and extremes", "many distinct", "few repeated", "distinct late"])
def test_number_keys_numbers_in_order_of_first_appearance(name):
    keys = key_columns()[name]
    codes, first = _comparisons.number_keys(keys)
    assert np.array_equal(first, np.sort(np.unique(keys, return_index=True)[1]))
    assert np.array_equal(keys[first][codes], keys)  # each key's code names a position holding it


def test_number_keys_arguments():
    keys = np.arange(4, dtype=np.int64)
    with pytest.raises(ValueError, match="same length"):
        _native.number_keys(keys, np.empty(3, np.int64), np.empty(4, np.int64))
    with pytest.raises(TypeError, match="keys must hold 8-byte items"):
        _native.number_keys(keys.astype(np.int32), np.empty(4, np.int64), np.empty(4, np.int64))
    with pytest.raises((BufferError, ValueError)):
        _native.number_keys(keys, np.empty(8, np.int64)[::2], np.empty(4, np.int64))  # not contiguous
    read_only = np.empty(4, np.int64)
    read_only.flags.writeable = False
    with pytest.raises((BufferError, ValueError)):
        _native.number_keys(keys, np.empty(4, np.int64), read_only)


@pytest.mark.parametrize(
    ("n_left", "n_right", "count"),
    [
        (1, 1, 5),
        (7, 3, 0),
        (1000, 1000, 300_000),  # many repeats, past a stop check
        (3, 400_000, 2_000_000),  # long rows: each one's partners sorted alone
        (5, 1 << 33, 10_000),  # right rows beyond 32 bits: partners kept as 64-bit
    ],
)
def test_distinct_pair_codes_is_sorted_unique(n_left, n_right, count):
    rng = np.random.default_rng(count)
    codes = rng.integers(0, n_left * n_right, size=count, dtype=np.int64)
    codes[: count // 2] = codes[count // 2 : 2 * (count // 2)]  # every other code repeated
    codes[-1:] = n_left * n_right - 1  # the last pair of all
    assert np.array_equal(_blocking._distinct_pairs(codes.copy(), n_left, n_right), np.unique(codes))


def test_distinct_pair_codes_refuses_codes_out_of_range():
    for bad in (np.array([0, 6], np.int64), np.array([-1], np.int64)):
        with pytest.raises(ValueError, match="outside"):
            _native.distinct_pair_codes(bad, 2, 3)
    with pytest.raises(ValueError, match="positive"):
        _native.distinct_pair_codes(np.zeros(1, np.int64), 2, 0)
    with pytest.raises(ValueError, match="positive"):
        _native.distinct_pair_codes(np.zeros(1, np.int64), 1 << 40, 1 << 40)  # n_left * n_right overflows


class Text(str):
    pass


@pytest.mark.parametrize(
    "column",
    [
        [],
        ["Ann", "", None, "ann ", "Ann", None, "", "Ünal", "ＡＢ", "a\x00b", "ann"],
        # equal texts that are different objects; a text of 2**14 distinct ones later
        ["x" * 3 + str(k % 20_000) for k in range(40_000)],
        ["1", 1, 1.0, True, float("nan"), None, "1"],  # not all str: each made text on its own
        ["a", Text("a"), "b"],
    ],
    ids=["empty", "texts", "many", "mixed", "subclass"],
)
@pytest.mark.parametrize("processor", [None, vorn.Preprocessor()])
def test_coded_columns_are_those_of_read_and_preprocess(column, processor):
    table = {"x": column, "y": list(reversed(column))}
    coded, rows = _records.read_coded_columns(table, ["x", "y"], processor)
    read, expected_rows = _records.read_columns(table, ["x", "y"])
    assert rows == expected_rows == len(column)
    for name in ("x", "y"):
        expected = _records.preprocess_coded(read[name], processor)
        assert coded[name].values == expected.values
        field = Field(name, kind="name", scorer="jaro_winkler", levels=(0.9,))
        ours, theirs = (
            _comparisons.encode_coded(field, coded[name], None),
            _comparisons.encode_coded(field, expected, None),
        )
        assert ours.values == theirs.values and np.array_equal(ours.left_codes, theirs.left_codes)


def test_code_texts_leaves_other_values_to_the_caller():
    codes = np.full(3, 7, np.int64)
    assert _native.code_texts(["a", 1, "a"], codes) is None and codes.tolist() == [7, 7, 7]
    assert _native.code_texts(("a", "b", "a"), codes) is None  # a tuple is not read natively
    assert _native.code_texts(["b", None, "b"], codes) == ["b", None] and codes.tolist() == [0, 1, 0]
    with pytest.raises(ValueError, match="one entry per value"):
        _native.code_texts(["a"], codes)


def test_levels_of_repeated_and_distinct_pairs_are_each_pairs_own():
    # Many pairs repeat a few pairs of values; each level is the one the pair alone gets.
    rng = np.random.default_rng(3)
    names = ["anna", "anne", "ana", "hannah", "bob", "bobby", "rob", None]
    field = Field("name", kind="name", scorer="jaro_winkler", levels=(0.92, 0.80))
    column = _comparisons.encode(field, [names[k] for k in rng.integers(0, len(names), 3000)], None)
    i, j = rng.integers(0, 3000, 50_000), rng.integers(0, 3000, 50_000)
    levels = _comparisons.levels(column, i, j, workers=1)
    expected = [_comparisons.levels(column, i[k : k + 1], j[k : k + 1], workers=1)[0] for k in range(0, 50_000, 997)]
    assert levels[::997].tolist() == expected


def test_level_matrix_in_threads_is_the_same(monkeypatch):
    rng = np.random.default_rng(5)
    words = [f"w{k}" for k in range(400)]
    left = {name: [words[k] for k in rng.integers(0, 400, 2000)] for name in ("a", "b", "c")}
    model = _fellegi_sunter.LinkageModel(["a", "b", "c"])
    _, tables = _fellegi_sunter._read(model.fields, left, None, None, complete=True)
    i, j = rng.integers(0, 2000, 150_000), rng.integers(0, 2000, 150_000)
    threaded = _fellegi_sunter.level_matrix(tables, i, j, workers=2)
    monkeypatch.setattr(_fellegi_sunter, "PARALLEL_FIELDS_PAIRS", len(i) + 1)
    assert np.array_equal(threaded, _fellegi_sunter.level_matrix(tables, i, j, workers=2))


def brute_co_agreement(a, b, left_rows):
    """Pairs agreeing on a, on b and on both, each among the records with both present."""
    both = [k for k in range(left_rows) if a[k] is not None and b[k] is not None]
    pairs = [(x, y) for n, x in enumerate(both) for y in both[n + 1 :]]
    counts = [sum(a[x] == a[y] for x, y in pairs), sum(b[x] == b[y] for x, y in pairs)]
    return counts, sum(a[x] == a[y] and b[x] == b[y] for x, y in pairs), len(pairs)


@pytest.mark.parametrize("values", [5, 300])  # few values: counted in an array; many: sorted
@pytest.mark.parametrize("missing", [(True, True), (False, True), (True, False)])  # which column misses values
def test_co_agreement_dense_and_sorted(values, missing):
    rng = np.random.default_rng(values)
    columns = [[None if v == 0 and m else f"v{v}" for v in rng.integers(0, values, 400)] for m in missing]
    field = Field("x", kind="code", scorer="levenshtein_distance", levels=(1, 2))
    encoded = [_comparisons.encode(field, column, None) for column in columns]
    excess, chance = _fellegi_sunter.co_agreement(encoded, dedup=True)
    (agree_a, agree_b), agree_both, present = brute_co_agreement(*columns, 400)
    population = 400 * 399 // 2
    assert chance[0, 1] == agree_a * agree_b / present * population / present
    assert excess[0, 1] == (agree_both - agree_a * agree_b / present) * population / present


@pytest.mark.parametrize("values", [3, 40])
def test_co_agreement_of_two_tables_counts_left_right_pairs(values):
    rng = np.random.default_rng(values)
    field = Field("x", kind="code", scorer="levenshtein_distance", levels=(1, 2))
    sides = [
        [[None if v == 0 else f"v{v}" for v in rng.integers(0, values, rows)] for _ in range(3)] for rows in (90, 70)
    ]
    encoded = [_comparisons.encode(field, left, right) for left, right in zip(*sides)]
    excess, chance = _fellegi_sunter.co_agreement(encoded, dedup=False, workers=2)
    for a, b in [(0, 1), (0, 2), (1, 2)]:
        both = [[k for k in range(len(side[a])) if side[a][k] is not None and side[b][k] is not None] for side in sides]
        pairs = [(x, y) for x in both[0] for y in both[1]]
        (left, right), present = sides, len(pairs)
        agree_a = sum(left[a][x] == right[a][y] for x, y in pairs)
        agree_b = sum(left[b][x] == right[b][y] for x, y in pairs)
        agree_both = sum(left[a][x] == right[a][y] and left[b][x] == right[b][y] for x, y in pairs)
        independent, population = agree_a * agree_b / present, 90 * 70
        assert chance[a, b] == chance[b, a] == independent * population / present
        assert excess[a, b] == (agree_both - independent) * population / present


def test_co_agreement_counts_refuses_codes_beyond_the_values():
    codes = [np.array([0, 1, -1], np.int64), np.array([0, 0, 0], np.int64)]
    out = np.zeros((1, 5), np.uint64)
    for bad in ([0, 2, -1], [0, -2, 0]):
        with pytest.raises(ValueError, match="outside"):
            _native.co_agreement_counts([np.array(bad, np.int64), codes[1]], None, [2, 1], out, 1)
    with pytest.raises(ValueError, match="same length"):
        _native.co_agreement_counts([codes[0], codes[1][:2]], None, [2, 1], out, 1)
    with pytest.raises(ValueError, match="five counts"):
        _native.co_agreement_counts(codes, None, [2, 1], np.zeros(4, np.uint64), 1)
    _native.co_agreement_counts(codes, [codes[0][:1], codes[1][:1]], [2, 1], out, 1)
    # left (0, 0) and (1, 0) hold both; right (0, 0) agrees with the first on a, with both on b
    assert out.tolist() == [[2, 1, 1, 2, 1]]


@pytest.mark.parametrize("layout", [name for name, _, _ in _comparisons.DATE_LAYOUTS])
def test_dates_read_in_bulk_are_those_read_one_by_one(layout):
    rng = np.random.default_rng(len(layout))
    numbers = [
        (y, m, d) for y, m, d in zip(rng.integers(900, 3100, 400), rng.integers(0, 14, 400), rng.integers(0, 33, 400))
    ]
    spelled = [f"{y:04d}{m:02d}{d:02d}" for y, m, d in numbers] + [f"{y}-{m:02d}-{d:02d}" for y, m, d in numbers]
    spelled += [f"{d:02d}/{m:02d}/{y}" for y, m, d in numbers] + [f"{m}.{d}.{y}" for y, m, d in numbers]
    # Other digits, a trailing newline, letters, a separator the layouts do not know, other widths.
    spelled += ["١٩٩٠-٠١-٠٢", "1990-01-02\n", "02-01-1990\n", "1990-01-0x", "1990_01_02", "1990-1-2", "x"]
    spelled += ["1990-01-1/", "1/-01-1990", "1990011/"]  # "/" is the digit before "0"
    pattern, order = _comparisons._date_layout(layout)
    expected = {}
    for value in spelled:  # a text read as a date from any of its spellings holds that date
        parts = _comparisons._date_parts(value, pattern, order)
        text = value if parts is None else f"{parts[0]:04d}{parts[1]:02d}{parts[2]:02d}"
        if parts is not None or text not in expected:
            expected[text] = parts or (-1, -1, -1)
    column = _comparisons.encode(Field("dob", kind="date", date_layout=layout), spelled, None)
    assert column.values == list(expected)
    assert column.parts.tolist() == [list(parts) for parts in expected.values()]
    assert (column.parts[:, 0] >= 0).sum() > 100  # the layout's own spelling is read


def test_date_levels_are_edits_of_the_texts_or_swaps():
    # Dates one digit apart in each place, swapped days and months, other years, and texts that
    # are no date (a month 13, letters, a date one character longer) beside parsed ones.
    rng = np.random.default_rng(11)
    dates = [f"{1900 + y}-{m:02d}-{d:02d}" for y, m, d in zip(rng.integers(0, 120, 300), rng.integers(1, 13, 300),
                                                             rng.integers(1, 29, 300))]  # fmt: skip
    near = [d[:k] + str((int(d[k]) + 1) % 10) + d[k + 1 :] for d in dates[:40] for k in (0, 1, 2, 3, 5, 6, 8, 9)]
    swapped = [f"{d[:4]}-{d[8:]}-{d[5:7]}" for d in dates[:40]]
    others = ["1990-13-01", "19900101", "1990-01-011", "unknown", "1990-1-1", "1990-01-02"]
    values = dates + near + swapped + others
    column = _comparisons.encode(Field("dob", kind="date", date_layout="yyyy-mm-dd"), values, None)
    a, b = rng.integers(0, len(values), 30_000), rng.integers(0, len(values), 30_000)
    a = np.r_[a, np.arange(40), np.arange(40)]
    b = np.r_[b, 300 + 8 * np.arange(40), 300 + 320 + np.arange(40)]  # a near date, the swapped one
    got = _comparisons.levels(column, a, b, workers=1)
    texts, parts = column.values, column.parts
    for x, y, level in zip(column.left_codes[a].tolist(), column.left_codes[b].tolist(), got.tolist()):
        if x == y:
            assert level == 3
            continue
        same_year = parts[x, 0] >= 0 and parts[y, 0] >= 0 and parts[x, 0] == parts[y, 0]
        swap = same_year and parts[x, 1] == parts[y, 2] and parts[x, 2] == parts[y, 1]
        close = vorn.levenshtein_distance(texts[x], texts[y]) <= 1 or swap
        assert level == (2 if close else 1 if same_year else 0), (texts[x], texts[y])
    assert (got == 2).sum() > 80 and (got == 1).sum() > 0 and (got == 0).sum() > 0


@pytest.mark.parametrize(
    ("parsed", "kind"),
    [(90, "date"), (89, "name")],  # 90 of 100 in one layout is the least share of a date field
)
def test_date_kind_at_the_least_share(parsed, kind):
    values = [f"1990-01-{1 + k % 28:02d}" for k in range(parsed)] + ["anna"] * (100 - parsed)
    assert _comparisons.detect_kind(values, [])[0] == kind


@pytest.mark.parametrize("right", [None, ["bob", None, "ann", "", "cy", "bob"]])
def test_field_codes_are_blockings_raw_codes(right):
    # The linkage hands its field codes to blocking in place of coding the values again.
    left = ["ann", None, "bob", "ann", "", "dee"]
    processed = [_records.preprocess(side, None) for side in (left, right) if side is not None]
    column = _comparisons.encode(Field("x", kind="name"), processed[0], processed[1] if right else None)
    codes = column.left_codes if right is None else np.concatenate([column.left_codes, column.right_codes])
    raw, distinct = _blocking._factorize([value for side in processed for value in side])
    assert codes.tolist() == raw.tolist() and column.values == distinct


@pytest.mark.parametrize("dedup", [True, False])
def test_estimate_of_a_two_column_rule_with_sparse_keys(dedup):
    # 80 values per column: combined keys reach 80 * 80, past the counting array's reach.
    rng = np.random.default_rng(11)

    def table(rows):
        return {c: [None if v == 0 else f"{c}{v}" for v in rng.integers(0, 80, rows)] for c in ("a", "b")}

    left, right = table(300), None if dedup else table(200)
    rule = vornkit.BlockingRule(("a", "b"))
    other = left if dedup else right
    keys = [(x, y) for x, y in zip(left["a"], left["b"])], [(x, y) for x, y in zip(other["a"], other["b"])]
    agree = sum(
        p == q and None not in p for n, p in enumerate(keys[0]) for m, q in enumerate(keys[1]) if not dedup or n < m
    )
    assert agree > 0 and vornkit.estimate_comparisons([rule], left, right) == [agree]


@pytest.mark.parametrize("processor", [None, vorn.Preprocessor()])
@pytest.mark.parametrize("two_tables", [False, True])
@pytest.mark.parametrize(
    "field",
    [Field("x", kind="name", scorer="jaro_winkler", levels=(0.9,)), Field("x", kind="date", date_layout="dd-mm-yyyy")],
)
def test_encoding_through_distinct_values_is_encode(processor, two_tables, field):
    # Raw values that preprocess to one value ("Ann", " ann"), to nothing ("  "), and dates in two spellings.
    pool = ["Ann", " ann", "ANN ", "bob", "  ", "", None, "1/2/1990", "01/02/1990", "3/4/2001", "Émile", "émile"]
    rng = np.random.default_rng(2)
    sides = [[pool[k] for k in rng.integers(0, len(pool), 500)] for _ in range(2 if two_tables else 1)]
    coded = [_records.preprocess_coded(side, processor) for side in sides]
    processed = [_records.preprocess(side, processor) for side in sides]
    assert [c.values for c in coded] == processed
    expected = _comparisons.encode(field, processed[0], processed[1] if two_tables else None)
    got = _comparisons.encode_coded(field, coded[0], coded[1] if two_tables else None)
    assert got.values == expected.values
    for name in ("left_codes", "right_codes", "frequency", "parts"):
        assert np.array_equal(getattr(got, name), getattr(expected, name)), name
    assert (got.right_codes is got.left_codes) == (not two_tables)
