"""Searches of a few queries (extract, extract_one, small topk) skip choices
that cannot beat the best so far. The skipping must never change a result:
each search here is checked against the full score matrix of cdist, on
lists and on prepared texts, with ties, cutoffs at the scores themselves,
nulls, empty texts and texts of many lengths."""

import math
import pickle
import random

import numpy as np
import pytest
import vorn

import vornkit
from vornkit import _native, distance, fuzz

# (scorer, a cutoff that falls among its scores)
SIMILARITY_SCORERS = [
    (vorn.levenshtein_similarity, 0.6),
    (vorn.jaro_winkler_similarity, 0.8),
    (vorn.hamming_similarity, 0.5),
    (vorn.jaccard_bigram_similarity, 0.4),
    (fuzz.ratio, 60.0),
    (fuzz.QRatio, 60.0),
    (fuzz.WRatio, 70.0),
    (fuzz.token_set_ratio, 70.0),
    (fuzz.partial_ratio, 70.0),
    (distance.Levenshtein.normalized_similarity, 0.6),
    (distance.Indel.normalized_similarity, 0.6),
    (distance.LCSseq.normalized_similarity, 0.6),
    (distance.OSA.normalized_similarity, 0.6),
    (distance.Hamming.normalized_similarity, 0.5),
    (distance.Jaro.similarity, 0.8),
    (distance.JaroWinkler.similarity, 0.8),
    (distance.JaroWinkler.normalized_similarity, 0.8),
]
DISTANCE_SCORERS = [
    (vorn.levenshtein_distance, 3),
    (vorn.hamming_distance, 3),
    (distance.Levenshtein.distance, 3),
    (distance.Indel.distance, 4),
    (distance.DamerauLevenshtein.distance, 3),
    (distance.Prefix.distance, 5),
]
ALL_SCORERS = SIMILARITY_SCORERS + DISTANCE_SCORERS
IDS = [f"{s.__module__}.{getattr(s, '__qualname__', s.__name__)}" for s, _ in ALL_SCORERS]


def _choices(seed, n):
    """Names of many lengths, with exact repeats and one-edit variants (so
    ties and near misses abound), empty texts, non-ASCII and nulls."""
    rng = random.Random(seed)
    base = ["".join(rng.choice("abcdeé ") for _ in range(rng.randint(1, 14))) for _ in range(n // 3)]
    out = []
    for _ in range(n):
        r = rng.random()
        if r < 0.05:
            out.append(None)
        elif r < 0.08:
            out.append("")
        elif r < 0.4:
            out.append(rng.choice(base))
        else:
            text = rng.choice(base)
            at = rng.randrange(len(text) + 1)
            out.append(text[:at] + rng.choice("aé𝄞x") + text[at + 1 :])
    return out


def _is_distance(scorer):
    return _native.scorer_info(scorer, None)[1]


def _ranked(row, cutoff, is_distance):
    """(score, index) best first from an unpruned row, as a search reports them."""
    keep = [(v, j) for j, v in enumerate(row) if not math.isnan(v) and v >= 0]
    if cutoff is not None:
        keep = [(v, j) for v, j in keep if (v <= cutoff if is_distance else v >= cutoff)]
    return sorted(keep, key=lambda p: (p[0] if is_distance else -p[0], p[1]))


@pytest.mark.parametrize("scorer,cut", ALL_SCORERS, ids=IDS)
def test_searches_equal_the_unpruned_ranking(scorer, cut):
    choices = _choices(7, 300)
    prepared = vornkit.prepare(choices)
    queries = [choices[1], choices[50] or "ab", "abcde", "", "é𝄞", choices[120] or "x"]
    is_distance = _is_distance(scorer)
    matrix = vornkit.cdist(queries, choices, scorer=scorer)
    for i, query in enumerate(queries):
        row = matrix[i].tolist()
        for cutoff in (None, cut, row[3] if row[3] >= 0 else None):  # a cutoff equal to a score
            best = _ranked(row, cutoff, is_distance)
            for texts in (choices, prepared):
                for workers in (1, 2):
                    hits = vornkit.extract(query, texts, scorer=scorer, limit=5, score_cutoff=cutoff, workers=workers)
                    assert [(j, v) for _, v, j in hits] == [(j, v) for v, j in best[:5]]
                    one = vornkit.extract_one(query, texts, scorer=scorer, score_cutoff=cutoff, workers=workers)
                    assert one == (None if not best else (choices[best[0][1]], best[0][0], best[0][1]))
    # A few queries at once go through the same search, one query at a time.
    indices, scores = vornkit.topk(queries, prepared, 3, scorer=scorer, workers=2)
    for i in range(len(queries)):
        best = _ranked(matrix[i].tolist(), None, is_distance)[:3]
        assert indices[i].tolist()[: len(best)] == [j for _, j in best]
        assert scores[i].tolist()[: len(best)] == [v for v, _ in best]


@pytest.mark.parametrize("seed", range(6))
def test_ties_go_to_the_lowest_index_whatever_the_visiting_order(seed):
    # Prepared texts are visited by length, nearest the query's first; the
    # best must still be the first of equal scores in the list.
    rng = random.Random(seed)
    choices = ["".join(rng.choice("ab") for _ in range(rng.randint(0, 6))) for _ in range(400)]
    for query in ("abab", "a", "bbbbbb", ""):
        for scorer in (
            vorn.levenshtein_similarity,
            vorn.levenshtein_distance,
            fuzz.WRatio,
            vorn.jaro_winkler_similarity,
        ):
            row = vornkit.cdist([query], choices, scorer=scorer)[0].tolist()
            expected = _ranked(row, None, _is_distance(scorer))[:7]
            for texts in (choices, vornkit.prepare(choices)):
                hits = vornkit.extract(query, texts, scorer=scorer, limit=7, workers=2)
                assert [(j, v) for _, v, j in hits] == [(j, v) for v, j in expected]


def test_nulls_and_a_null_query_never_match():
    choices = [None, "abc", float("nan"), None, "abd"]
    for texts in (choices, vornkit.prepare(choices)):
        assert vornkit.extract("abc", texts, scorer=vorn.levenshtein_distance, limit=None) == [
            ("abc", 0, 1),
            ("abd", 1, 4),
        ]
        assert vornkit.extract_one(None, texts, scorer=fuzz.WRatio) is None
        assert vornkit.extract_one("zzz", [None, None], scorer=fuzz.WRatio) is None
    indices, scores = vornkit.topk([None, "abd"], vornkit.prepare(choices), 2, scorer=vorn.levenshtein_similarity)
    assert indices.tolist() == [[-1, -1], [4, 1]]
    assert np.isnan(scores[0]).all()


def test_cutoffs_at_the_edges():
    choices = ["abcd", "abce", "wxyz", "abcd"]
    prepared = vornkit.prepare(choices)
    for texts in (choices, prepared):
        # A cutoff equal to the best score keeps it; just above drops it.
        assert vornkit.extract_one("abcd", texts, scorer=vorn.levenshtein_similarity, score_cutoff=1.0) == (
            "abcd",
            1.0,
            0,
        )
        assert vornkit.extract_one("abcx", texts, scorer=vorn.levenshtein_similarity, score_cutoff=0.76) is None
        assert vornkit.extract("abcx", texts, scorer=vorn.levenshtein_distance, score_cutoff=0) == []
        assert vornkit.extract("abcx", texts, scorer=vorn.levenshtein_distance, score_cutoff=1, limit=None) == [
            ("abcd", 1, 0),
            ("abce", 1, 1),
            ("abcd", 1, 3),
        ]
        assert vornkit.extract_one("abcd", texts, scorer=fuzz.WRatio, score_cutoff=101) is None
        assert vornkit.extract_one("abcd", texts, scorer=fuzz.WRatio, score_cutoff=-5) == ("abcd", 100.0, 0)


def test_prepared_texts_behave_as_a_read_only_sequence():
    texts = ["Jon Smith", None, "Jane Doe"]
    prepared = vornkit.prepare(texts, processor=str.lower)
    assert len(prepared) == 3 and prepared.null_count == 1
    assert prepared[0] is texts[0] and prepared[-1] is texts[2] and prepared[1] is None
    assert prepared.processor is str.lower
    with pytest.raises(IndexError):
        prepared[3]
    with pytest.raises(TypeError, match="pickled"):
        pickle.dumps(prepared)
    assert vornkit.prepare(prepared) is prepared
    # The query gets the prepared processor; results name the original element.
    assert vornkit.extract_one("JANE DOE", prepared, scorer=vorn.levenshtein_similarity) == ("Jane Doe", 1.0, 2)
    assert vornkit.extract_one("JANE DOE", prepared, scorer=vorn.levenshtein_similarity, processor=str.lower) == (
        "Jane Doe",
        1.0,
        2,
    )


@pytest.mark.parametrize(
    "call",
    [
        lambda p: vornkit.extract("x", p, scorer=vorn.levenshtein_similarity, processor=str.upper),
        lambda p: vornkit.cdist(["x"], p, scorer=vorn.levenshtein_similarity, processor=str.upper),
        lambda p: vornkit.cdist(p, vornkit.prepare(["x"]), scorer=vorn.levenshtein_similarity),
        lambda p: vornkit.prepare(p, processor=str.upper),
        lambda p: vornkit.EditIndex(p, processor=str.upper),
    ],
)
def test_a_different_processor_with_prepared_texts_is_refused(call):
    with pytest.raises(ValueError, match="prepared with"):
        call(vornkit.prepare(["a", "b"], processor=str.lower))


def test_prepared_texts_are_accepted_everywhere_texts_are():
    texts = ["Ann Lee", "ann lee", "Bob Ray", None]
    prepared = vornkit.prepare(texts, processor=str.lower)
    lowered = [t and t.lower() for t in texts]
    # Unprepared texts in the same call get the prepared processor.
    np.testing.assert_array_equal(
        vornkit.cdist(["ANN LEE"], prepared, scorer=vorn.levenshtein_distance),
        vornkit.cdist(["ann lee"], lowered, scorer=vorn.levenshtein_distance),
    )
    i, j, _ = vornkit.threshold_join(prepared, scorer=vorn.levenshtein_distance, score_cutoff=0)
    assert list(zip(i.tolist(), j.tolist())) == [(0, 1)]
    index = vornkit.EditIndex(prepared)
    assert index.query("ANN LEE", 0)[0].tolist() == [0, 1]
    np.testing.assert_array_equal(
        vornkit.minhash_signatures(vornkit.prepare(texts[:3], processor=str.lower)),
        vornkit.minhash_signatures(lowered[:3]),
    )


@pytest.mark.parametrize(
    "scorer",
    [
        vorn.levenshtein_similarity,
        vorn.levenshtein_distance,
        vorn.jaro_winkler_similarity,
        distance.Jaro.similarity,
        fuzz.WRatio,
        distance.Indel.normalized_similarity,
        distance.OSA.distance,
    ],
    ids=lambda s: getattr(s, "__qualname__", s.__name__),
)
def test_searches_of_many_choices_visit_lengths_in_passes_without_changing_results(scorer):
    # From 4096 choices a search over a list visits the lengths nearest the
    # query's first, pass by pass, or in one sweep when the bar is low; the
    # lengths come from Python's str, or are counted when the texts were
    # processed or come from Arrow.
    pa = pytest.importorskip("pyarrow")
    choices = _choices(3, 5000)
    is_distance = _is_distance(scorer)
    near = next(c for c in choices[2500:] if c and len(c) > 6)
    queries = [near[:-1] + "x", "zzzzzzzzzzzzzzzzzzzzzzzzzzzz", near + "é𝄞"]
    matrix = vornkit.cdist(queries, choices, scorer=scorer)
    inputs = [choices, pa.array(choices), vornkit.prepare(choices)]
    for query, row in zip(queries, matrix.tolist()):
        for limit in (1, 5):
            best = _ranked(row, None, is_distance)[:limit]
            for texts in inputs:
                hits = vornkit.extract(query, texts, scorer=scorer, limit=limit, workers=2)
                assert [(j, v) for _, v, j in hits] == [(j, v) for v, j in best]
        processed = vornkit.extract(query, choices, scorer=scorer, limit=3, processor=lambda s: s)
        assert [(j, v) for _, v, j in processed] == [(j, v) for v, j in _ranked(row, None, is_distance)[:3]]


@pytest.mark.parametrize("cutoff", [0, 1, 2, 3, 4])
def test_small_levenshtein_bounds_are_exact_across_scripts_and_lengths(cutoff):
    # Bounds of at most 3 edits try edit patterns at the mismatches on
    # decoded characters; longer texts and wider characters take the
    # bit-parallel kernel.
    rng = random.Random(cutoff)
    alphabet = "ab\u00e9\U0001d11e\u4e2d"
    base = ["".join(rng.choice(alphabet) for _ in range(rng.choice([1, 4, 9, 63, 64, 70]))) for _ in range(40)]
    choices = []
    for text in base:
        for _ in range(8):
            edited = list(text)
            for _ in range(rng.randint(0, 4)):
                at = rng.randrange(len(edited) + 1)
                op = rng.choice("ids")
                if op == "i":
                    edited.insert(at, rng.choice(alphabet))
                elif edited and at < len(edited):
                    if op == "d":
                        del edited[at]
                    else:
                        edited[at] = rng.choice(alphabet)
            choices.append("".join(edited))
    for query in base[:10]:
        row = vornkit.cdist([query], choices, scorer=vorn.levenshtein_distance)[0].tolist()
        expected = _ranked(row, cutoff, True)
        for texts in (choices, vornkit.prepare(choices)):
            hits = vornkit.extract(query, texts, scorer=vorn.levenshtein_distance, limit=None, score_cutoff=cutoff)
            assert [(j, v) for _, v, j in hits] == [(j, v) for v, j in expected]


@pytest.mark.parametrize(
    "scorer",
    [vorn.levenshtein_similarity, distance.JaroWinkler.similarity, distance.Indel.normalized_similarity, fuzz.ratio],
    ids=lambda s: getattr(s, "__qualname__", s.__name__),
)
def test_bounds_by_length_hold_past_the_lengths_worked_out_beforehand(scorer):
    """A query and choices of 200 to 300 characters: their length bounds
    come from a table below 256 characters and from the formula above."""
    rng = random.Random(11)
    base = "".join(rng.choice("abcdefgh") for _ in range(300))
    choices = []
    for _ in range(4500):
        length = rng.randint(200, 300)
        text = list(base[:length])
        for _ in range(rng.randint(0, 30)):
            text[rng.randrange(length)] = rng.choice("abcdefghé")
        choices.append("".join(text))
    for query in (base[:256], base[:255] + "é", base[:200]):
        row = vornkit.cdist([query], choices, scorer=scorer)[0].tolist()
        best = _ranked(row, None, False)[:3]
        for texts in (choices, vornkit.prepare(choices)):
            hits = vornkit.extract(query, texts, scorer=scorer, limit=3)
            assert [(j, v) for _, v, j in hits] == [(j, v) for v, j in best]


@pytest.mark.parametrize(
    "scorer,kwargs",
    [
        (distance.Levenshtein.distance, {"weights": (1, 1, 2)}),
        (distance.Levenshtein.distance, {"weights": (3, 1, 1)}),
        (distance.Levenshtein.distance, {"weights": (1, 4, 2)}),
        (distance.Levenshtein.normalized_similarity, {"weights": (1, 1, 2)}),
        (distance.Levenshtein.normalized_similarity, {"weights": (2, 1, 5)}),
        (distance.Levenshtein.normalized_similarity, {"weights": (1, 3, 1)}),
        (distance.JaroWinkler.similarity, {"prefix_weight": 0.0}),
        (distance.JaroWinkler.similarity, {"prefix_weight": 0.25}),
        (distance.JaroWinkler.similarity, {"prefix_weight": 0.6}),
        (distance.JaroWinkler.normalized_similarity, {"prefix_weight": 1.0}),
    ],
    ids=lambda v: getattr(v, "__qualname__", None) or repr(v),
)
def test_searches_with_options_equal_the_unpruned_ranking(scorer, kwargs):
    """Weighted edits bound lengths by their weights, a wider Winkler bonus
    widens Jaro's bounds; the ranking stays that of the full matrix."""
    pa = pytest.importorskip("pyarrow")
    choices = _choices(5, 5000)
    is_distance = _is_distance(scorer)
    near = next(c for c in choices[2500:] if c and len(c) > 6)
    queries = [near[:-1] + "x", near[2:], "x" + near + "é𝄞", "a"]
    matrix = vornkit.cdist(queries, choices, scorer=scorer, scorer_kwargs=kwargs)
    for query, row in zip(queries, matrix.tolist()):
        for cutoff in (None, row[7] if row[7] == row[7] and row[7] >= 0 else None):
            best = _ranked(row, cutoff, is_distance)[:5]
            for texts in (choices, pa.array(choices), vornkit.prepare(choices)):
                hits = vornkit.extract(query, texts, scorer=scorer, scorer_kwargs=kwargs, limit=5, score_cutoff=cutoff)
                assert [(j, v) for _, v, j in hits] == [(j, v) for v, j in best]


@pytest.mark.parametrize(
    "scorer,boost_threshold",
    [(vorn.jaro_winkler_similarity, False), (distance.JaroWinkler.similarity, True)],
    ids=["vorn", "rapidfuzz"],
)
def test_a_prefix_bonus_below_a_jaro_of_0_7_is_bounded_as_scored(scorer, boost_threshold):
    """vorn's Winkler bonus applies at any Jaro, RapidFuzz's above 0.7 only:
    a choice sharing only its prefix with the query must not be skipped by
    a bound that drops the bonus."""
    query = "abcdefghij"
    choices = ["qqqdefghij", "qqqqefghij", "abcdxyzxyzxy", "zzzzzzzzzzzz"]
    prefix_only = scorer(query, choices[2])
    assert (prefix_only > scorer(query, choices[1])) is not boost_threshold
    row = vornkit.cdist([query], choices, scorer=scorer)[0].tolist()
    best = _ranked(row, None, False)[:2]
    for texts in (choices, vornkit.prepare(choices)):
        hits = vornkit.extract(query, texts, scorer=scorer, limit=2)
        assert [(j, v) for _, v, j in hits] == [(j, v) for v, j in best]


# The ratios over whole texts and tokens bound each choice by the lengths of
# the texts they compare (characters, sorted tokens joined, the tokens of
# one side only), on choices split on the stack up to 256 characters.
TOKEN_SCORERS = [
    fuzz.ratio,
    fuzz.QRatio,
    fuzz.token_sort_ratio,
    fuzz.token_set_ratio,
    fuzz.token_ratio,
    fuzz.WRatio,
    fuzz.partial_token_set_ratio,
    fuzz.partial_token_ratio,
]
WORDS = ["ann", "anna", "bo", "bob", "ça", "𝄞x", "lee", "leé", "x"]
SEPARATORS = [" ", "  ", "\t", "\x1c", "\xa0", "\u3000", "\x85"]


def _token_texts(seed, n):
    """Phrases of a few words sharing a small vocabulary (common tokens,
    repeated tokens, one holding another), with separators that split only
    some texts (U+00A0 and U+0085 split only texts beyond Latin-1), edge
    separators, texts of separators only, and texts beyond a stack split
    (over 256 characters)."""
    rng = random.Random(seed)
    out = []
    for _ in range(n):
        r = rng.random()
        if r < 0.04:
            out.append(None)
        elif r < 0.07:
            out.append(rng.choice(["", " ", "\t \u3000"]))
        elif r < 0.1:
            out.append(" ".join(rng.choice(WORDS) for _ in range(rng.randint(60, 130))))
        else:
            words = [rng.choice(WORDS) for _ in range(rng.randint(1, 4))]
            text = "".join(w + rng.choice(SEPARATORS) for w in words)
            out.append(text if rng.random() < 0.3 else text.strip(" \t\x1c\xa0\u3000\x85"))
    return out


TOKEN_QUERIES = [
    "anna",
    "bob ann",
    "ann ann bo",
    "lee\xa0bo",
    "lee\xa0bo 𝄞x",
    "   ",
    "",
    "x " * 150,
    " ça  leé ",
    "annabobleexannabobann",  # one word over 8 times longer than some choices (WRatio's 0.6)
]


@pytest.mark.parametrize("scorer", TOKEN_SCORERS, ids=lambda s: s.__name__)
def test_token_ratio_searches_equal_rapidfuzz_and_the_unpruned_scores(scorer):
    rapidfuzz = pytest.importorskip("rapidfuzz")
    peer = getattr(rapidfuzz.fuzz, scorer.__name__)
    choices = _token_texts(11, 400)
    prepared = vornkit.prepare(choices)
    matrix = vornkit.cdist(TOKEN_QUERIES, choices, scorer=scorer)
    for query, row in zip(TOKEN_QUERIES, matrix.tolist()):
        # A limit of every choice keeps the bar down: every score is exact.
        every = vornkit.extract(query, prepared, scorer=scorer, limit=len(choices))
        assert sorted((j, v) for _, v, j in every) == sorted((j, v) for v, j in _ranked(row, None, False))
        scores = sorted({v for v in row if v == v})
        middle = len(scores) // 2
        # RapidFuzz's process functions may drop a score equal to the cutoff
        # (they turn it into a distance); between two scores they agree.
        between = (scores[middle - 1] + scores[middle]) / 2 if middle else None
        for cutoff in (None, between, scores[middle], scores[-1], 100.0):
            best = _ranked(row, cutoff, False)
            expected_one = None if not best else (choices[best[0][1]], best[0][0], best[0][1])
            expected_five = [(choices[j], v, j) for v, j in best[:5]]
            if cutoff is None or cutoff == between:
                assert rapidfuzz.process.extractOne(query, choices, scorer=peer, score_cutoff=cutoff) == expected_one
                peer_five = rapidfuzz.process.extract(query, choices, scorer=peer, limit=5, score_cutoff=cutoff)
                assert peer_five == expected_five
            for texts in (choices, prepared):
                for workers in (1, 2):
                    one = vornkit.extract_one(query, texts, scorer=scorer, score_cutoff=cutoff, workers=workers)
                    assert one == expected_one
                    five = vornkit.extract(query, texts, scorer=scorer, limit=5, score_cutoff=cutoff, workers=workers)
                    assert five == expected_five


@pytest.mark.parametrize("scorer", TOKEN_SCORERS, ids=lambda s: s.__name__)
def test_token_ratio_searches_of_many_choices_with_a_rising_bar(scorer):
    # Thousands of choices of one to three words: the bar rises early and
    # most choices are ruled out by their lengths alone; near the query's
    # score many tie, and the first of them must win.
    rng = random.Random(5)
    vocabulary = ["".join(rng.choice("abcdeé") for _ in range(rng.randint(2, 7))) for _ in range(300)]
    choices = [" ".join(rng.choice(vocabulary) for _ in range(rng.randint(1, 3))) for _ in range(6000)]
    choices[4000] = choices[100]
    queries = [choices[100], choices[2000].split()[0] + "x", choices[3000] + " " + choices[3001]]
    matrix = vornkit.cdist(queries, choices, scorer=scorer)
    prepared = vornkit.prepare(choices)
    for query, row in zip(queries, matrix.tolist()):
        best = _ranked(row, None, False)
        for texts in (choices, prepared):
            five = vornkit.extract(query, texts, scorer=scorer, limit=5)
            assert [(j, v) for _, v, j in five] == [(j, v) for v, j in best[:5]]
            assert vornkit.extract_one(query, texts, scorer=scorer) == (choices[best[0][1]], best[0][0], best[0][1])
        lowered = vornkit.extract_one(query.upper(), choices, scorer=scorer, processor=str.lower)
        assert lowered == (choices[best[0][1]], best[0][0], best[0][1])


@pytest.mark.parametrize("scorer", TOKEN_SCORERS, ids=lambda s: s.__name__)
@pytest.mark.parametrize("seed", range(3))
@pytest.mark.parametrize("letters", ["abcdeéfg", "abcdefg"])  # ASCII choices are bounded from their bytes
def test_token_ratio_bounds_are_reached_by_subsequences(scorer, seed, letters):
    # A choice made by deleting characters of the query (or of its words)
    # reaches the length bounds exactly, so a bound one step too low drops
    # the best choice once an earlier one has raised the bar just past it.
    rng = random.Random(seed)
    words = ["".join(rng.choice(letters) for _ in range(rng.randint(5, 12))) for _ in range(rng.randint(1, 3))]
    query = " ".join(words)
    letters = [k for k, c in enumerate(query) if c != " "]
    choices = []
    for _ in range(300):
        dropped = set(rng.sample(letters, rng.randint(1, 4)))
        text = "".join(c for k, c in enumerate(query) if k not in dropped)
        choices.append(text + rng.choice(["", "", "a", "gf", " g"]))
    row = vornkit.cdist([query], choices, scorer=scorer)[0].tolist()
    best = _ranked(row, None, False)
    for texts in (choices, vornkit.prepare(choices)):
        assert vornkit.extract_one(query, texts, scorer=scorer) == (choices[best[0][1]], best[0][0], best[0][1])
        three = vornkit.extract(query, texts, scorer=scorer, limit=3)
        assert [(j, v) for _, v, j in three] == [(j, v) for v, j in best[:3]]


def _variants(query, rng, count):
    """Texts near a query: letters dropped or added, words dropped, doubled
    or swapped, separators changed; their scores reach the length bounds or
    fall just short of them."""
    out = []
    for _ in range(count):
        words = query.split()
        r = rng.random()
        if r < 0.3 and len(words) > 1:
            words.pop(rng.randrange(len(words)))
        elif r < 0.45:
            words.append(rng.choice(words))
        elif r < 0.55:
            rng.shuffle(words)
        text = rng.choice([" ", "  ", "\t"]).join(words)
        for _ in range(rng.randint(0, 3)):
            at = rng.randrange(len(text) + 1)
            if rng.random() < 0.5 and at < len(text) and text[at] != " ":
                text = text[:at] + text[at + 1 :]
            else:
                text = text[:at] + rng.choice("abxy") + text[at:]
        out.append(text)
    return out


@pytest.mark.parametrize("scorer", [fuzz.token_set_ratio, fuzz.token_ratio], ids=lambda s: s.__name__)
@pytest.mark.parametrize(
    "query,first,second",
    [
        ("abc defg", "abc defgxy", "abc dfg"),  # a token in common; the query's own tokens' length decides
        ("abc defg", "abc\tdefgxy", "dfg  abc"),
        ("abc défg", "abc défgxy", "abc dfg"),  # the same beyond ASCII
        ("ab ab cdefg", "cdefgxy ab", "ab cdfg ab"),  # repeated tokens count once
    ],
)
def test_a_second_choice_at_its_bound_beats_a_first_just_below(scorer, query, first, second):
    # The second choice scores exactly its bound, the first just less: a
    # bound a step too low would rule the second out against the first.
    row = vornkit.cdist([query], [first, second], scorer=scorer)[0].tolist()
    assert row[0] < row[1]
    for texts in ([first, second], vornkit.prepare([first, second])):
        assert vornkit.extract_one(query, texts, scorer=scorer) == (second, row[1], 1)


@pytest.mark.parametrize("scorer", TOKEN_SCORERS, ids=lambda s: s.__name__)
@pytest.mark.parametrize("query", ["abc defg", "abc defg hij", "abc abc de", "kitten", "sitting on kittens", "éa bc"])
def test_each_choice_is_bounded_against_every_bar(scorer, query):
    # Two choices: the first one's score is the bar the second must beat.
    # Every ordered pair of near texts tries each bound against each bar.
    texts = _variants(query, random.Random(query), 24)
    row = vornkit.cdist([query], texts, scorer=scorer)[0].tolist()
    for x, first in enumerate(texts):
        for y, second in enumerate(texts):
            expected = (second, row[y], 1) if row[y] > row[x] else (first, row[x], 0)
            assert vornkit.extract_one(query, [first, second], scorer=scorer) == expected
