"""The algorithm registry and what reads it: every router name scores as its
function does, in the router and in vornkit; scorers are recognised by the
function object, never by name; the fingerprint defaults agree with vorn's
*_default functions; a Preprocessor's settings reach vornkit whole."""

import functools
import math
import re

import numpy as np
import pytest
import vorn

import vornkit
from vornkit import _comparisons, _linkage, _native, _progress, _scorers, cli, distance, fuzz

# Equal character counts, so that Hamming scores every pair.
PAIRS = [("kitten", "sittin"), ("αβγδ", "αβxδ"), ("", ""), ("the quick brown fox", "the quick brown dog")]
ROUTED = [algorithm for algorithm in _scorers.ALGORITHMS if algorithm.router_name]


def same(x, y):
    return (math.isnan(x) and math.isnan(y)) or x == y


@pytest.mark.parametrize("algorithm", ROUTED, ids=[a.router_name for a in ROUTED])
def test_router_names_score_as_their_functions(algorithm):
    # Thresholds that never decide: the result is tier 1's score.
    flow = vorn.VornFlow().tier_1(algorithm.router_name, "gt", 2.0, "lt", -1.0)
    function = algorithm.scorer()
    queries, choices = zip(*PAIRS)
    kit = vornkit.cpdist(queries, choices, scorer=function)
    for (a, b), from_kit in zip(PAIRS, kit.tolist()):
        expected = function(a, b)
        assert same(flow.compare(a, b)["score"], expected)
        assert same(from_kit, expected)


def test_scorer_info_is_the_registry():
    for algorithm in _scorers.ALGORITHMS:
        kwargs = {size: 2 for size in algorithm.sizes} or None
        name, is_distance = _native.scorer_info(algorithm.scorer(), kwargs)
        assert (name, is_distance) == (algorithm.function, algorithm.is_distance)


@pytest.mark.parametrize(
    "impostor",
    [
        functools.wraps(vorn.levenshtein_distance)(lambda a, b: 0),  # same __name__ and __qualname__
        functools.partial(vorn.levenshtein_distance),
        [vorn.levenshtein_distance],  # not even hashable
        vorn.minhash_signature,  # vorn's, but not a pairwise scorer
        "levenshtein_distance",
    ],
    ids=["wrapped", "partial", "list", "signature", "name"],
)
def test_only_registered_function_objects_are_scorers(impostor):
    with pytest.raises(TypeError, match="scorer must be one of vorn's pairwise scoring functions"):
        vornkit.cdist(["a"], ["b"], scorer=impostor)


@pytest.mark.parametrize("text", ["", "ab", "near-duplicate detection over many documents", "Ünïcödé 漢字"])
def test_fingerprint_defaults_are_the_default_functions(text):
    other = "near duplicate detection of many documents"
    signatures = vornkit.minhash_signatures([text, other])
    assert same(
        vornkit.signature_agreement(signatures[0], signatures[1])[0], vorn.minhash_similarity_default(text, other)
    )
    assert vornkit.simhash_fingerprints([text])[0] == vorn.simhash_fingerprint_default(text)


PREPROCESSORS = [
    vorn.Preprocessor(),
    vorn.Preprocessor().with_lowercase(False),
    vorn.Preprocessor().with_trim(False),
    vorn.Preprocessor().with_remove_stopwords(True),
    vorn.Preprocessor().with_remove_stopwords(True).with_stopwords(["kitten", "Über"]),
    vorn.Preprocessor().with_max_length(5).with_collapse_whitespace(False),
    vorn.Preprocessor().with_normalize_unicode(False),
]
TEXTS = ["  The KITTEN  sat ", "Ü\u0308ber the cafe\u0301", "sitting  on a mat", "über alles", "a"]


@pytest.mark.parametrize("processor", PREPROCESSORS, ids=range(len(PREPROCESSORS)))
def test_processor_settings_reach_vornkit_whole(processor):
    processed = [processor.process(t) for t in TEXTS]
    got = vornkit.cdist(TEXTS, TEXTS, scorer=vorn.levenshtein_distance, processor=processor, workers=2)
    np.testing.assert_array_equal(got, vornkit.cdist(processed, processed, scorer=vorn.levenshtein_distance))


@pytest.mark.parametrize("processor", PREPROCESSORS, ids=range(len(PREPROCESSORS)))
def test_processor_state_rebuilds_an_equal_processor(processor):
    # What Spark executors do with it: the public builders, in any order.
    normalize, collapse, trim, lowercase, remove_stopwords, stopwords, max_length = _native.processor_state(processor)
    rebuilt = (
        vorn.Preprocessor()
        .with_stopwords(stopwords)
        .with_max_length(max_length)
        .with_normalize_unicode(normalize)
        .with_collapse_whitespace(collapse)
        .with_trim(trim)
        .with_lowercase(lowercase)
        .with_remove_stopwords(remove_stopwords)
    )
    assert [rebuilt.process(t) for t in TEXTS] == [processor.process(t) for t in TEXTS]


def test_a_subclass_cannot_change_the_settings_vornkit_reads():
    class Disguised(vorn.Preprocessor):
        def __vorn_settings__(self):
            return (False, False, False, False, False, (), 0)

    # The class's own settings (lowercase among them) apply.
    assert vornkit.cdist(["ABC"], ["abc"], scorer=vorn.levenshtein_distance, processor=Disguised()).tolist() == [[0]]


def test_progress_without_tqdm_is_a_plain_line(monkeypatch, capsys):
    monkeypatch.setattr(_progress, "_tqdm", lambda: None)
    labels = vornkit.dedup(["a b c d", "a b c d", "x y z"], progress=True)
    assert labels.tolist() == [0, 0, 2]
    err = capsys.readouterr().err
    assert "signatures: 100%" in err and "bands: 100%" in err


# ---------------------------------------------------------------- scorer names

NAMED = list(_scorers.NAMED.values())
NAMED_IDS = [algorithm.name for algorithm in NAMED]
CHOICES = ["kitten", "sitting", "kitchen", "mitten", "Ünïcödé kitten", "the kitten sat", "k", "nettik"]


def scored_pairs(algorithm, pairs):
    """The pairs vorn's function scores: its Hamming functions refuse unequal lengths."""
    if algorithm.module == "vorn" and algorithm.function.startswith("hamming"):
        return [(a, b) for a, b in pairs if len(a) == len(b)]
    return pairs


@pytest.mark.parametrize("algorithm", NAMED, ids=NAMED_IDS)
def test_every_scorer_name_searches_from_the_command_line(tmp_path, capsys, algorithm):
    choices = [choice for _, choice in scored_pairs(algorithm, [("kitten", choice) for choice in CHOICES])]
    (tmp_path / "choices.txt").write_text("\n".join(choices) + "\n", encoding="utf-8")
    command = ["search", "kitten", str(tmp_path / "choices.txt"), "--scorer", algorithm.name, "--no-preprocess"]
    assert cli.main([*command, "--limit", "4"]) == 0
    rows = [line.split(",") for line in capsys.readouterr().out.splitlines()[1:]]
    function = algorithm.scorer()
    scores = [(function("kitten", choice), k) for k, choice in enumerate(choices)]
    best_first = sorted(scores, key=lambda p: (p[0] if algorithm.is_distance else -p[0], p[1]))
    assert [(float(score), int(index)) for index, score, _ in rows] == best_first[:4]


@pytest.mark.parametrize("algorithm", NAMED, ids=NAMED_IDS)
def test_every_scorer_name_is_a_linkage_field(algorithm):
    bounds = (1, 3) if algorithm.is_distance else (0.8, 0.5)
    field = _comparisons.Field("name", kind="name", scorer=algorithm.name, levels=bounds)
    pairs = [("kitten", "kitten"), ("kitten", "sitting"), ("Ünïcödé", "Unicode"), ("kitten", "kitchen"),
             ("martha", "marhta"), ("dwayne", "duane"), ("jon", "john")]  # fmt: skip
    left, right = map(list, zip(*scored_pairs(algorithm, pairs)))
    column = _comparisons.encode(field, left, right)
    rows = np.arange(len(left))
    got = _comparisons.levels(column, rows, rows, workers=1).tolist()
    function = algorithm.scorer()
    expected = []
    for a, b in zip(left, right):
        score = function(a, b) / algorithm.scale  # a fuzz ratio's levels read it in [0, 1]
        met = [score <= bound if algorithm.is_distance else score >= bound for bound in bounds]
        expected.append(field.level_count - 1 if a == b else sum(met))
    assert got == expected
    sign = "<=" if algorithm.is_distance else ">="
    shown = algorithm.name if algorithm.scale == 1 else f"{algorithm.name}/100"
    assert field.level_names()[1] == f"{shown} {sign} {bounds[-1]:g}"


@pytest.mark.parametrize(
    ("scorer", "kind", "message"),
    [
        ("Levenshtein.distance", "name", "scorer 'Levenshtein.distance' needs its own levels (highest distances"),
        ("WRatio", "code", "scorer 'WRatio' needs its own levels (lowest similarities"),
    ],
)
def test_a_scorer_of_the_other_direction_needs_its_own_levels(scorer, kind, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        _comparisons.Field("x", kind=kind, scorer=scorer).completed(["ab"], ["ac"])


def test_unknown_scorer_names_list_the_registry():
    with pytest.raises(
        ValueError, match=r"unknown scorer 'levenshtein\.distance' \(choose from .*Levenshtein\.distance"
    ):
        _comparisons.Field("x", scorer="levenshtein.distance")


def test_the_mean_linkage_refuses_distances_and_reads_fuzz_ratios_in_unit_range():
    assert "Levenshtein.distance" not in _linkage.SCORERS
    scores = _linkage.score_matrix(["kitten"], ["sitting", "kitten"], "ratio", 1)
    assert scores.tolist() == [[fuzz.ratio("kitten", "sitting") / 100, 1.0]]


# ---------------------------------------------------------------- scorer_kwargs

QUERIES = ["kitten", "Ünïcödé", "", "flaw", "a b c"]
TARGETS = ["sitting", "Unicode", "lawn", "", "kitten", "a c b"]
OPTIONS = [
    ("Levenshtein", "distance", {"weights": (1, 2, 3)}),
    ("Levenshtein", "distance", {"weights": (3, 1, 1)}),
    ("Levenshtein", "normalized_similarity", {"weights": (2, 1, 5)}),
    ("JaroWinkler", "similarity", {"prefix_weight": 0.25}),
    ("JaroWinkler", "normalized_similarity", {"prefix_weight": 0.0}),
    ("Hamming", "distance", {"pad": True}),
    ("Hamming", "normalized_similarity", {"pad": 1}),
]
DISTANCE_FORMS = {algorithm.scorer() for algorithm in _scorers.ALGORITHMS if algorithm.is_distance}
OPTION_IDS = [f"{metric}.{form}-{next(iter(kwargs.values()))}" for metric, form, kwargs in OPTIONS]


@pytest.mark.parametrize(("metric", "form", "kwargs"), OPTIONS, ids=OPTION_IDS)
def test_scorer_kwargs_options_score_as_the_function(metric, form, kwargs):
    scorer = getattr(getattr(distance, metric), form)
    # Enough strings for the matrix kernels' blocks, which must honour the options too.
    queries, targets = [f"{q}{k % 3}" for k in range(8) for q in QUERIES], TARGETS * 12
    expected = [[scorer(q, t, **kwargs) for t in targets] for q in queries]
    assert vornkit.cdist(queries, targets, scorer=scorer, scorer_kwargs=kwargs, workers=2).tolist() == expected
    aligned = vornkit.cpdist(queries, targets[: len(queries)], scorer=scorer, scorer_kwargs=kwargs).tolist()
    assert aligned == [expected[k][k] for k in range(len(queries))]
    best = vornkit.extract_one(queries[0], targets, scorer=scorer, scorer_kwargs=kwargs)
    assert best is not None and best[1] == (min if scorer in DISTANCE_FORMS else max)(expected[0])


@pytest.mark.parametrize(("metric", "form", "kwargs"), OPTIONS, ids=OPTION_IDS)
def test_scorer_kwargs_options_equal_rapidfuzz(metric, form, kwargs):
    rapidfuzz = pytest.importorskip("rapidfuzz")
    peer = getattr(getattr(rapidfuzz.distance, metric), form)
    ours = getattr(getattr(distance, metric), form)
    # RapidFuzz's functions, pair by pair: its own cdist skips the round trip
    # through the distance that JaroWinkler.normalized_similarity makes.
    expected = [[peer(q, t, **kwargs) for t in TARGETS] for q in QUERIES]
    assert vornkit.cdist(QUERIES, TARGETS, scorer=ours, scorer_kwargs=kwargs).tolist() == expected


@pytest.mark.parametrize(
    ("scorer", "kwargs", "error", "message"),
    [
        (fuzz.ratio, {"weights": (1, 1, 1)}, TypeError, "ratio() got an unexpected scorer_kwargs entry 'weights'"),
        (distance.Levenshtein.distance, {"prefix_weight": 0.1}, TypeError, "entry 'prefix_weight'"),
        (distance.JaroWinkler.similarity, {"weights": (1, 1, 1)}, TypeError, "entry 'weights'"),
        (distance.Jaro.similarity, {"prefix_weight": 0.1}, TypeError, "entry 'prefix_weight'"),
        (distance.Hamming.distance, {"pad": False}, ValueError, "scorer_kwargs['pad'] must be true"),
        (distance.Levenshtein.distance, {"weights": (1, 1)}, TypeError, "weights must be a tuple"),
        (distance.Levenshtein.distance, {"weights": (1, -1, 1)}, OverflowError, "negative"),
        (distance.JaroWinkler.similarity, {"prefix_weight": 1.5}, ValueError, "prefix_weight has to be in the range"),
    ],
)
def test_scorer_kwargs_refusals(scorer, kwargs, error, message):
    with pytest.raises(error, match=re.escape(message)):
        vornkit.cdist(["a"], ["b"], scorer=scorer, scorer_kwargs=kwargs)
