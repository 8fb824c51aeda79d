"""vornkit's collection functions against the scalar vorn functions: every
scorer, seeded random texts (ASCII, non-ASCII, empty, longer than one
64-character block, nulls), every input kind."""

import math
import random

import numpy as np
import pytest
import vorn

import vornkit
from vornkit import _native

# scorer, scorer_kwargs, the vorn call for one pair
SCORERS = [
    (vorn.levenshtein_distance, None, vorn.levenshtein_distance),
    (vorn.levenshtein_similarity, None, vorn.levenshtein_similarity),
    (vorn.jaro_winkler_similarity, None, vorn.jaro_winkler_similarity),
    (vorn.hamming_distance, None, vorn.hamming_distance),
    (vorn.hamming_similarity, None, vorn.hamming_similarity),
    (vorn.jaccard_similarity, {"n": 2}, lambda a, b: vorn.jaccard_similarity(a, b, 2)),
    (vorn.jaccard_bigram_similarity, None, vorn.jaccard_bigram_similarity),
    (vorn.jaccard_trigram_similarity, None, vorn.jaccard_trigram_similarity),
    (vorn.jaccard_word_similarity, None, vorn.jaccard_word_similarity),
    (vorn.minhash_similarity, {"shingle_size": 2, "num_hashes": 16}, lambda a, b: vorn.minhash_similarity(a, b, 2, 16)),
    (vorn.minhash_similarity_default, None, vorn.minhash_similarity_default),
    (vorn.simhash_similarity, {"shingle_size": 3}, lambda a, b: vorn.simhash_similarity(a, b, 3)),
    (vorn.simhash_similarity_default, None, vorn.simhash_similarity_default),
    (vorn.bm25_similarity, None, vorn.bm25_similarity),
    (vorn.tfidf_similarity, None, vorn.tfidf_similarity),
]
SCORER_IDS = [s[0].__name__ for s in SCORERS]
DISTANCES = {vorn.levenshtein_distance, vorn.hamming_distance}

ALPHABETS = ["ab ", "abcdefgh ", "aé€𝄞 b", "ÄäÖöß .,"]


def random_texts(rng, n, nulls=True):
    texts = []
    for _ in range(n):
        if nulls and rng.random() < 0.1:
            texts.append(None)
            continue
        alphabet = rng.choice(ALPHABETS)
        length = rng.choice([0, 1, 3, 5, 8, 20, 63, 64, 65, 130])
        texts.append("".join(rng.choice(alphabet) for _ in range(length)))
    return texts


def hamming_padded(a, b):
    n = max(len(a), len(b))
    return sum(x != y for x, y in zip(a, b)) + abs(len(a) - len(b)), n


def reference(scorer, pair_fn, a, b):
    """The score vornkit documents: vorn's, NaN/-1 with a null, Hamming padded."""
    distance = scorer in DISTANCES
    if a is None or b is None:
        return -1 if distance else math.nan
    if scorer in (vorn.hamming_distance, vorn.hamming_similarity) and len(a) != len(b):
        d, n = hamming_padded(a, b)
        return d if distance else 1.0 - d / n
    return pair_fn(a, b)


def same(x, y):
    return (isinstance(x, float) and math.isnan(x) and math.isnan(y)) or x == y


def reference_matrix(scorer, pair_fn, queries, choices):
    return [[reference(scorer, pair_fn, q, c) for c in choices] for q in queries]


@pytest.mark.parametrize("scorer,kwargs,pair_fn", SCORERS, ids=SCORER_IDS)
@pytest.mark.parametrize("workers", [1, 2])
def test_cdist_and_cpdist_are_vorn_bit_for_bit(scorer, kwargs, pair_fn, workers):
    rng = random.Random(hash(scorer.__name__) % 1000 + workers)
    queries, choices = random_texts(rng, 23), random_texts(rng, 31)
    matrix = vornkit.cdist(queries, choices, scorer=scorer, scorer_kwargs=kwargs, workers=workers)
    assert matrix.dtype == (np.int64 if scorer in DISTANCES else np.float64)
    expected = reference_matrix(scorer, pair_fn, queries, choices)
    got = matrix.tolist()
    for i, row in enumerate(expected):
        for j, value in enumerate(row):
            assert same(value, got[i][j]), (queries[i], choices[j], value, got[i][j])
    aligned = vornkit.cpdist(queries, choices[:23], scorer=scorer, scorer_kwargs=kwargs, workers=workers)
    assert all(same(expected[i][i], v) for i, v in enumerate(aligned.tolist()))


def pyarrow_kinds():
    pa = pytest.importorskip("pyarrow")
    return {
        "pyarrow utf8": lambda t: pa.array(t, pa.string()),
        "pyarrow large_utf8": lambda t: pa.array(t, pa.large_string()),
        "pyarrow string_view": lambda t: pa.array(t, pa.string_view()),
        "pyarrow sliced": lambda t: pa.array([None, "zz"] + t, pa.string()).slice(2),
        "pyarrow chunked": lambda t: pa.chunked_array([pa.array(t[:3], pa.string()), pa.array(t[3:], pa.string())]),
    }


INPUT_KINDS = {
    "list": list,
    "tuple": tuple,
    "generator": lambda t: (x for x in t),
    "numpy object": lambda t: np.array(t, dtype=object),
    "numpy StringDType": lambda t: np.array(t, dtype=np.dtypes.StringDType(na_object=None)),
    "pandas object": lambda t: __import__("pandas").Series(t, dtype=object),
    "pandas arrow": lambda t: __import__("pandas").Series(t, dtype="string[pyarrow]"),
    "polars": lambda t: __import__("polars").Series(t, dtype=__import__("polars").String),
    **{
        name: name
        for name in ["pyarrow utf8", "pyarrow large_utf8", "pyarrow string_view", "pyarrow sliced", "pyarrow chunked"]
    },
}


@pytest.mark.parametrize("kind", INPUT_KINDS)
def test_every_input_kind_gives_the_list_result(kind):
    make = INPUT_KINDS[kind]
    if isinstance(make, str):
        make = pyarrow_kinds()[make]
    pytest.importorskip(kind.split()[0]) if kind.split()[0] in ("pandas", "polars") else None
    rng = random.Random(7)
    texts = random_texts(rng, 40)
    texts[5] = None
    choices = random_texts(rng, 9, nulls=False)
    expected = vornkit.cdist(texts, choices, scorer=vorn.levenshtein_distance)
    got = vornkit.cdist(make(texts), choices, scorer=vorn.levenshtein_distance)
    np.testing.assert_array_equal(got, expected)
    hits = vornkit.extract(choices[0], make(texts), scorer=vorn.jaro_winkler_similarity, limit=3)
    assert [c for c, _, i in hits] == [texts[i] for _, _, i in hits]


class Text(str):
    """A str subclass: its code units live outside the object."""


@pytest.mark.parametrize(
    "make",
    [
        pytest.param(lambda i: "abc"[i % 3] * (128 + i % 3), id="ascii around the in-place length"),
        pytest.param(
            lambda i: "ab\xe9\xff"[i % 4] + "x" * (i * 4 % 150), id="one byte per unit, around the copied length"
        ),
        pytest.param(lambda i: "a\u0100\u20ac\uffff"[i % 4] + "\xe9" * (i % 9), id="two bytes per unit"),
        pytest.param(lambda i: "a\U0001d11e\U0010ffff\u07ff"[i % 4] * (1 + i % 5), id="four bytes per unit"),
        pytest.param(lambda i: Text("sub\xe9"[: 1 + i % 5]), id="str subclass"),
        pytest.param(lambda i: "\u20ac" * (30_000 if i == 3 else i), id="a text longer than a block share"),
    ],
)
def test_str_of_every_width_reads_as_its_characters(make):
    """Texts copied by code-unit width, over more than one block of copies:
    Hamming against the text rotated by one compares every character."""
    texts = [make(i) for i in range(40)] * 400  # about 2 MiB: past the first block
    rotated = [t[1:] + t[:1] for t in texts]
    got = vornkit.cpdist(texts, rotated, scorer=vorn.hamming_distance)
    expected = [vorn.hamming_distance(a, b) for a, b in zip(texts, rotated)]
    np.testing.assert_array_equal(got, expected)
    first = texts.index(texts[7])
    assert vornkit.extract(texts[7], texts[:40], scorer=vorn.levenshtein_distance, limit=1)[0][1:] == (0, first)


def test_columns_past_the_large_page_size():
    """Half a million strings: a column of views over 4 MiB takes the large
    allocator, and a stream's second chunk moves it into a larger one."""
    pa = pytest.importorskip("pyarrow")
    n = 270_000
    a = [f"n{i % 977}é" for i in range(2 * n)]
    b = a[1:] + a[:1]
    expected = vornkit.cpdist(a, b, scorer=vorn.levenshtein_distance)
    chunked = pa.chunked_array([pa.array(a[:n]), pa.array(a[n:])])
    np.testing.assert_array_equal(vornkit.cpdist(chunked, b, scorer=vorn.levenshtein_distance), expected)
    assert all(expected[i] == vorn.levenshtein_distance(a[i], b[i]) for i in range(0, 2 * n, 997))


def test_numpy_fixed_width_str_and_polars_long_views():
    pl = pytest.importorskip("polars")
    texts = ["short", "a text longer than twelve bytes", "ünïcödé and more bytes"]
    for data in (np.array(texts), pl.Series(texts)):
        assert vornkit.cpdist(data, texts, scorer=vorn.levenshtein_distance).tolist() == [0, 0, 0]


@pytest.mark.parametrize(
    "scorer,kwargs,pair_fn", [SCORERS[i] for i in (0, 1, 2, 3, 13)], ids=[SCORER_IDS[i] for i in (0, 1, 2, 3, 13)]
)
def test_topk_extract_and_join_agree_with_the_matrix(scorer, kwargs, pair_fn):
    rng = random.Random(11)
    alphabet_texts = [t for t in random_texts(rng, 60) if t is None or len(t) < 30]
    queries, choices = alphabet_texts[:9], alphabet_texts[9:] + alphabet_texts[9:15]  # duplicates: ties
    distance = scorer in DISTANCES
    matrix = vornkit.cdist(queries, choices, scorer=scorer, scorer_kwargs=kwargs)
    cut = 6 if distance else 0.3

    def ranked(row, cutoff):
        keep = [(v, j) for j, v in enumerate(row) if not math.isnan(v) and v >= 0]
        keep = [(v, j) for v, j in keep if cutoff is None or (v <= cutoff if distance else v >= cutoff)]
        return sorted(keep, key=lambda p: (p[0] if distance else -p[0], p[1]))

    for cutoff in (None, cut):
        for k in (1, 4, len(choices) + 2):
            indices, scores = vornkit.topk(
                queries, choices, k, scorer=scorer, scorer_kwargs=kwargs, score_cutoff=cutoff, workers=2
            )
            for i, row in enumerate(matrix.tolist()):
                best = ranked(row, cutoff)[:k]
                pad = k - len(best)
                assert indices[i].tolist() == [j for _, j in best] + [-1] * pad
                expected = [v for v, _ in best] + [-1 if distance else math.nan] * pad
                assert all(same(e, g) for e, g in zip(expected, scores[i].tolist()))
        hits = vornkit.extract(
            queries[0] or "", choices, scorer=scorer, scorer_kwargs=kwargs, limit=None, score_cutoff=cutoff
        )
        row0 = vornkit.cdist([queries[0] or ""], choices, scorer=scorer, scorer_kwargs=kwargs)[0].tolist()
        assert [(j, v) for _, v, j in hits] == [(j, v) for v, j in ranked(row0, cutoff)]
        assert all(choices[j] is c for c, _, j in hits)

        i, j, s = vornkit.threshold_join(queries, choices, scorer=scorer, scorer_kwargs=kwargs, score_cutoff=cut)
        expected_pairs = [
            (a, b) for a, row in enumerate(matrix.tolist()) for b in sorted(j for _, j in ranked(row, cut))
        ]
        assert list(zip(i.tolist(), j.tolist())) == expected_pairs
        assert s.tolist() == [matrix[a, b] for a, b in expected_pairs]

    both = queries + choices
    full = vornkit.cdist(both, both, scorer=scorer, scorer_kwargs=kwargs)
    i, j, s = vornkit.threshold_join(both, scorer=scorer, scorer_kwargs=kwargs, score_cutoff=cut, workers=2)
    expected_pairs = [(a, b) for a in range(len(both)) for b in range(a + 1, len(both)) if ranked([full[a, b]], cut)]
    assert list(zip(i.tolist(), j.tolist())) == expected_pairs
    assert s.tolist() == [full[a, b] for a, b in expected_pairs]


def test_self_join_spans_many_tiles():
    rng = random.Random(3)
    texts = ["".join(rng.choice("ab") for _ in range(6)) for _ in range(700)]
    i, j, _ = vornkit.threshold_join(texts, scorer=vorn.levenshtein_distance, score_cutoff=0, workers=2)
    expected = [(a, b) for a in range(700) for b in range(a + 1, 700) if texts[a] == texts[b]]
    assert list(zip(i.tolist(), j.tolist())) == expected


@pytest.mark.parametrize(
    "scorer,cutoff,dtype,transform",
    [
        (vorn.levenshtein_distance, 3, None, lambda m: np.where(m > 3, 4, m)),
        (vorn.levenshtein_distance, None, np.int8, lambda m: m.astype(np.int8)),
        (vorn.levenshtein_distance, None, np.uint16, lambda m: m.astype(np.uint16)),
        (vorn.hamming_distance, 2, np.float32, lambda m: np.where(m > 2, 3, m).astype(np.float32)),
        (vorn.jaro_winkler_similarity, 0.7, None, lambda m: np.where(m < 0.7, 0.0, m)),
        (vorn.levenshtein_similarity, 0.5, np.float32, lambda m: np.where(m < 0.5, 0.0, m).astype(np.float32)),
    ],
)
def test_score_cutoff_and_dtype_convert_like_numpy(scorer, cutoff, dtype, transform):
    rng = random.Random(5)
    queries, choices = random_texts(rng, 20), random_texts(rng, 25)
    plain = vornkit.cdist(queries, choices, scorer=scorer)
    got = vornkit.cdist(queries, choices, scorer=scorer, score_cutoff=cutoff, dtype=dtype)
    expected = transform(plain)
    assert got.dtype == expected.dtype
    np.testing.assert_array_equal(got, expected)


def test_processor_runs_once_per_string_before_scoring():
    processor = vorn.Preprocessor().with_remove_stopwords(True)
    rng = random.Random(9)
    queries = [t and t.upper() + " the" for t in random_texts(rng, 12)]
    choices = [t and "  The " + t for t in random_texts(rng, 14)]
    clean = lambda ts: [t if t is None else processor.process(t) for t in ts]  # noqa: E731
    for fn in (vornkit.cdist, vornkit.cpdist):
        b = choices[: len(queries)] if fn is vornkit.cpdist else choices
        got = fn(queries, b, scorer=vorn.levenshtein_distance, processor=processor, workers=2)
        np.testing.assert_array_equal(got, fn(clean(queries), clean(b), scorer=vorn.levenshtein_distance))
    best = vornkit.extract_one(
        "KITTEN", ["the kitten", "sitting"], scorer=vorn.levenshtein_distance, processor=processor
    )
    assert best == ("the kitten", 0, 0)  # the original choice is returned


@pytest.mark.parametrize(
    "call,error,message",
    [
        (
            lambda: vornkit.cdist(["a", 3], ["b"], scorer=vorn.levenshtein_distance),
            TypeError,
            r"queries\[1\] must be str or None, not 'int'",
        ),
        (
            lambda: vornkit.cdist(["a"], ("b", b"x"), scorer=vorn.levenshtein_distance),
            TypeError,
            r"choices\[1\] must be str or None, not 'bytes'",
        ),
        (lambda: vornkit.cdist(["a"], "abc", scorer=vorn.levenshtein_distance), TypeError, "not 'str'"),
        (lambda: vornkit.cdist(["a"], ["b"], scorer=len), TypeError, "built-in function len"),
        (lambda: vornkit.cdist(["a"], ["b"], scorer=vorn.minhash_signature), TypeError, "minhash_signature"),
        (lambda: vornkit.cdist(["a"], ["b"], scorer=vorn.jaccard_similarity), TypeError, r"scorer_kwargs\['n'\]"),
        (
            lambda: vornkit.cdist(["a"], ["b"], scorer=vorn.jaccard_similarity, scorer_kwargs={"n": 2, "m": 1}),
            TypeError,
            "unexpected scorer_kwargs entry 'm'",
        ),
        (
            lambda: vornkit.cdist(["a"], ["b"], scorer=vorn.jaccard_similarity, scorer_kwargs={"n": -1}),
            OverflowError,
            "negative",
        ),
        (
            lambda: vornkit.cdist(["a"], ["b"], scorer=vorn.simhash_similarity, scorer_kwargs={"shingle_size": 0}),
            ValueError,
            "window size must be non-zero",
        ),
        (
            lambda: vornkit.cdist(["a"], ["b"], scorer=vorn.jaro_winkler_similarity, dtype=np.int32),
            TypeError,
            "cannot hold similarities",
        ),
        (
            lambda: vornkit.cdist(["a"], ["b"], scorer=vorn.levenshtein_distance, score_cutoff=-1),
            ValueError,
            "negative",
        ),
        (lambda: vornkit.cdist(["a"], ["b"], scorer=vorn.levenshtein_distance, workers=0), ValueError, "workers"),
        (
            lambda: vornkit.cdist(["a"], ["b"], scorer=vorn.levenshtein_distance, processor="x"),
            TypeError,
            "vorn.Preprocessor",
        ),
        (lambda: vornkit.cpdist(["a"], ["b", "c"], scorer=vorn.levenshtein_distance), ValueError, "equal length"),
        (
            lambda: vornkit.cdist(["a"], np.zeros((2, 2), dtype=object), scorer=vorn.levenshtein_distance),
            ValueError,
            "one-dimensional",
        ),
        (lambda: vornkit.cdist(["a"], np.arange(3), scorer=vorn.levenshtein_distance), TypeError, "dtype"),
        (lambda: vornkit.cdist(["\ud800"], ["b"], scorer=vorn.levenshtein_distance), UnicodeEncodeError, "surrogates"),
        (
            lambda: vornkit.cdist(["a"], ["b", "\U0001d11e\udfff"], scorer=vorn.levenshtein_distance),
            UnicodeEncodeError,
            "surrogates",
        ),
        (lambda: vornkit.extract(3, ["b"], scorer=vorn.levenshtein_distance), TypeError, "query must be str"),
        (
            lambda: vornkit.topk(["a"], ["b"], -1, scorer=vorn.levenshtein_distance),
            ValueError,
            "limit must be at least 0",
        ),
    ],
)
def test_errors_name_the_culprit(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_arrow_errors_name_the_type():
    pa = pytest.importorskip("pyarrow")
    with pytest.raises(TypeError, match="format 'l'"):
        vornkit.cdist(pa.array([1, 2]), ["a"], scorer=vorn.levenshtein_distance)


@pytest.mark.parametrize(
    "data,offsets,valid,bad",
    [
        (b"a\xff\xfe", [0, 1, 3], None, 1),
        (b"\xc3\xa9", [0, 1, 2], None, 0),  # one character split over two strings
        (b"x\xc3\xa9", [0, 2, 3], [1, 0], 0),  # its end under a null
        (b"x\xff\xc3\xa9", [0, 1, 2, 2, 4], [1, 0, 1, 1], None),  # bad bytes only under a null
    ],
)
def test_arrow_utf8_is_checked_per_string(data, offsets, valid, bad):
    pa = pytest.importorskip("pyarrow")
    n = len(offsets) - 1
    validity = None if valid is None else pa.py_buffer(np.packbits(np.array(valid, bool), bitorder="little"))
    buffers = [validity, pa.py_buffer(np.array(offsets, dtype=np.int32)), pa.py_buffer(data)]
    array = pa.Array.from_buffers(pa.string(), n, buffers)
    if bad is not None:
        with pytest.raises(ValueError, match=f"position {bad} is not valid UTF-8"):
            vornkit.cpdist(array, ["a"] * n, scorer=vorn.levenshtein_distance)
        return
    texts = [data[offsets[i] : offsets[i + 1]].decode() if valid[i] else None for i in range(n)]
    assert vornkit.cpdist(array, texts, scorer=vorn.levenshtein_distance).tolist() == [0, -1, 0, 0]


def test_arrow_arrays_are_released():
    pa = pytest.importorskip("pyarrow")
    base = pa.total_allocated_bytes()
    data = pa.array(["x" * 100] * 10_000)
    held = pa.total_allocated_bytes()
    for _ in range(20):
        vornkit.cdist(data, ["x"], scorer=vorn.levenshtein_distance)
    del data
    assert pa.total_allocated_bytes() == base < held


@pytest.mark.parametrize("fn", ["cdist", "cpdist", "topk", "join", "extract"])
@pytest.mark.parametrize("shape", [(0, 0), (0, 3), (3, 0)])
def test_empty_inputs_give_empty_results(fn, shape):
    queries, choices = ["ab"] * shape[0], ["abc"] * shape[1]
    s = vorn.levenshtein_similarity
    if fn == "cdist":
        assert vornkit.cdist(queries, choices, scorer=s).shape == shape
    elif fn == "cpdist":
        assert vornkit.cpdist(queries, queries, scorer=s).shape == (shape[0],)
    elif fn == "topk":
        indices, scores = vornkit.topk(queries, choices, 2, scorer=s)
        assert indices.shape == scores.shape == (shape[0], 2)
        assert (indices == -1).all()
    elif fn == "join":
        assert all(len(a) == 0 for a in vornkit.threshold_join(queries, choices, scorer=s, score_cutoff=0.0))
    else:
        assert vornkit.extract("ab", choices, scorer=s, limit=0) == []
        assert vornkit.extract("ab", queries[:0], scorer=s) == []
        assert vornkit.extract_one(None, ["ab"], scorer=s) is None


@pytest.mark.parametrize(
    "scorer", [vorn.levenshtein_similarity, vorn.levenshtein_distance, vorn.jaro_winkler_similarity]
)
def test_a_cutoff_equal_to_a_score_keeps_that_pair(scorer):
    rng = random.Random(13)
    texts = [t for t in random_texts(rng, 120, nulls=False) if len(t) < 70]
    matrix = vornkit.cdist(texts, texts, scorer=scorer)
    for cutoff in rng.sample(sorted(set(matrix.ravel().tolist())), 12):
        i, j, _ = vornkit.threshold_join(texts, texts, scorer=scorer, score_cutoff=cutoff, workers=2)
        keep = matrix <= cutoff if scorer is vorn.levenshtein_distance else matrix >= cutoff
        assert list(zip(i.tolist(), j.tolist())) == list(zip(*map(np.ndarray.tolist, np.nonzero(keep))))


def exported_processed(texts):
    """Strings read, processed and handed to Arrow (the capsules dropped unread too)."""
    pa = pytest.importorskip("pyarrow")
    processed = _native.apply_processor(_native.Strings(texts), vorn.Preprocessor(), 1)
    processed.__arrow_c_array__()
    return pa.array(processed)


def leak_cases():
    pa = pytest.importorskip("pyarrow")
    texts, arrow = ["kitten", None, "sitting é"], pa.chunked_array([["a", None], ["bcd"]])
    lev, jw = vorn.levenshtein_distance, vorn.jaro_winkler_similarity
    return {
        "cdist": (vornkit.cdist, (texts, arrow), {"scorer": lev, "processor": vorn.Preprocessor()}),
        "topk": (vornkit.topk, (arrow, texts, 2), {"scorer": jw}),
        "extract": (vornkit.extract, ("kitten", texts), {"scorer": vorn.minhash_similarity_default}),
        "join": (vornkit.threshold_join, (texts,), {"scorer": jw, "score_cutoff": 0.1}),
        "bad element": (vornkit.cdist, (texts, ["a", 1]), {"scorer": lev}),
        "bad scorer": (vornkit.cpdist, (arrow, texts), {"scorer": len}),
        "bad kwargs": (vornkit.cdist, (arrow, texts), {"scorer": vorn.jaccard_similarity, "scorer_kwargs": {"n": -1}}),
        "arrow export": (exported_processed, (texts,), {}),
    }


@pytest.mark.parametrize(
    "case", ["cdist", "topk", "extract", "join", "bad element", "bad scorer", "bad kwargs", "arrow export"]
)
def test_no_reference_or_memory_leaks(no_leak, case):
    fn, args, kwargs = leak_cases()[case]
    no_leak(fn, *args, calls=2000, expect=(TypeError, OverflowError), **kwargs)


@pytest.mark.parametrize("kind", ["list", "pyarrow utf8", "pyarrow large_utf8", "pyarrow sliced", "pyarrow chunked"])
@pytest.mark.parametrize("processed", [False, True], ids=["as-read", "processed"])
def test_strings_hand_their_texts_to_arrow(kind, processed):
    """The Arrow export holds each text (processed ones after apply_processor), nulls and empty
    texts kept, whatever the input's layout, offsets or chunks."""
    pa = pytest.importorskip("pyarrow")
    texts = ["  Grüße  AUS Köln", None, "", "Σίσυφος ΟΔΟΣ", "a\tb", None, "x" * 70]
    make = (lambda t: t) if kind == "list" else pyarrow_kinds()[kind]
    strings = _native.Strings(make(texts))
    expected = texts
    if processed:
        processor = vorn.Preprocessor()
        strings = _native.apply_processor(strings, processor, 1)
        expected = [None if text is None else processor.process(text) for text in texts]
    exported = pa.array(strings)
    assert exported.type == pa.large_string()
    assert exported.to_pylist() == expected
    assert exported.null_count == 2


@pytest.mark.parametrize(
    "scorer, dtype", [(vorn.levenshtein_similarity, np.float32), (vorn.levenshtein_distance, np.uint8)]
)
def test_extract_scores_in_the_dtype_asked_for(scorer, dtype):
    choices = ["kitten", "sitting", "mitten", "kit"]
    best = vornkit.extract("kiten", choices, scorer=scorer, dtype=dtype, limit=None)
    expected = sorted(
        ((c, dtype(scorer("kiten", c)).item(), i) for i, c in enumerate(choices)),
        key=lambda t: (-t[1] if scorer is vorn.levenshtein_similarity else t[1], t[2]),
    )
    assert best == expected
    assert vornkit.extract_one("kiten", choices, scorer=scorer, dtype=dtype) == expected[0]
    with pytest.raises(TypeError, match="cannot hold"):
        vornkit.extract("kiten", choices, scorer=vorn.levenshtein_similarity, dtype=np.int64)
