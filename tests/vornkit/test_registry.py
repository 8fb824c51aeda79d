"""The algorithm registry and what reads it: every router name scores as its
function does, in the router and in vornkit; scorers are recognised by the
function object, never by name; the fingerprint defaults agree with vorn's
*_default functions; a Preprocessor's settings reach vornkit whole."""

import functools
import math

import numpy as np
import pytest
import vorn

import vornkit
from vornkit import _native, _progress, _scorers

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
