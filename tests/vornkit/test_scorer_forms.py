"""Every form of every vornkit.distance metric is a scorer of every
collection function, with the values of the function called on each pair:
distances (and normalized distances) rank lower first, similarities higher
first, ties by the lower index."""

import math
import random

import numpy as np
import pytest

import vornkit
from vornkit import distance

METRICS = ["Levenshtein", "Indel", "LCSseq", "OSA", "DamerauLevenshtein", "Hamming", "Prefix", "Postfix", "Jaro"]
METRICS.append("JaroWinkler")
FORMS = ["distance", "similarity", "normalized_distance", "normalized_similarity"]
CASES = [pytest.param(m, f, id=f"{m}.{f}") for m in METRICS for f in FORMS]


def _texts(seed, n):
    rng = random.Random(seed)
    out = [None, "", "kitten"]
    while len(out) < n:
        base = "".join(rng.choice("abcé𝄞 ") for _ in range(rng.choice([1, 3, 6, 63, 64, 65])))
        out.append(base if rng.random() < 0.5 else base[::-1])
    return out


QUERIES = _texts(1, 7)
CHOICES = _texts(2, 23) + QUERIES[3:5]  # exact repeats: ties


def _scalar(scorer, a, b, **kwargs):
    if a is None or b is None:
        return None
    return scorer(a, b, **kwargs)


def _lower_is_better(form):
    return "distance" in form


def _ranked(scorer, form, query, cutoff, kwargs):
    if cutoff is not None and isinstance(scorer(query, query, **kwargs), int):
        cutoff = int(cutoff)
    found = []
    for j, choice in enumerate(CHOICES):
        value = _scalar(scorer, query, choice, **kwargs)
        if value is None or (cutoff is not None and (value > cutoff if _lower_is_better(form) else value < cutoff)):
            continue
        found.append((value, j))
    return sorted(found, key=lambda p: (p[0] if _lower_is_better(form) else -p[0], p[1]))


def _cutoff(metric, form):
    if "normalized" in form or metric.startswith("Jaro"):
        return 0.5
    return 3.7 if form == "similarity" else 3  # the similarity's function truncates it


def _same(got, want):
    if want is None:
        return (isinstance(got, float) and math.isnan(got)) or got == -1
    return got == want and type(got) is type(want)


@pytest.mark.parametrize("metric,form", CASES)
def test_every_form_scores_like_its_function(metric, form):
    scorer = getattr(getattr(distance, metric), form)
    kwargs = {"weights": (1, 2, 3)} if metric == "Levenshtein" and form != "distance" else {}
    if metric == "JaroWinkler" and form == "distance":
        kwargs = {"prefix_weight": 0.2}
    extra = {"scorer_kwargs": kwargs} if kwargs else {}
    matrix = vornkit.cdist(QUERIES, CHOICES, scorer=scorer, **extra)
    for i, query in enumerate(QUERIES):
        for j, choice in enumerate(CHOICES):
            assert _same(matrix[i, j].item(), _scalar(scorer, query, choice, **kwargs)), (query, choice)
    pairs = vornkit.cpdist(QUERIES, CHOICES[: len(QUERIES)], scorer=scorer, **extra)
    for got, a, b in zip(pairs.tolist(), QUERIES, CHOICES):
        assert _same(got, _scalar(scorer, a, b, **kwargs))
    cutoff = _cutoff(metric, form)
    with_cutoff = vornkit.cdist(QUERIES[1:], CHOICES[1:], scorer=scorer, score_cutoff=cutoff, **extra)
    for i, query in enumerate(QUERIES[1:]):
        for j, choice in enumerate(CHOICES[1:]):
            assert with_cutoff[i, j].item() == scorer(query, choice, score_cutoff=cutoff, **kwargs)
    for query in QUERIES[1:]:  # a None query matches nothing
        for limit_cutoff in (None, cutoff):
            best = _ranked(scorer, form, query, limit_cutoff, kwargs)
            hits = vornkit.extract(query, CHOICES, scorer=scorer, limit=4, score_cutoff=limit_cutoff, **extra)
            assert [(j, v) for _, v, j in hits] == [(j, v) for v, j in best[:4]]
            one = vornkit.extract_one(
                query, vornkit.prepare(CHOICES), scorer=scorer, score_cutoff=limit_cutoff, **extra
            )
            assert one == (None if not best else (CHOICES[best[0][1]], best[0][0], best[0][1]))
    indices, scores = vornkit.topk(QUERIES, CHOICES, 3, scorer=scorer, **extra)
    for i, query in enumerate(QUERIES):
        best = _ranked(scorer, form, query, None, kwargs)[:3] if query is not None else []
        assert indices[i].tolist()[: len(best)] == [j for _, j in best]
        assert scores[i].tolist()[: len(best)] == [v for v, _ in best]
        assert all(j == -1 for j in indices[i].tolist()[len(best) :])
    i, j, values = vornkit.threshold_join(QUERIES, CHOICES, scorer=scorer, score_cutoff=cutoff, **extra)
    want = [
        (a, b, value)
        for a, query in enumerate(QUERIES)
        if query is not None
        for value, b in sorted(_ranked(scorer, form, query, cutoff, kwargs), key=lambda p: p[1])
    ]
    assert list(zip(i.tolist(), j.tolist(), values.tolist())) == want
    si, sj, _ = vornkit.threshold_join(CHOICES, scorer=scorer, score_cutoff=cutoff, **extra)
    assert all(x < y for x, y in zip(si.tolist(), sj.tolist()))


@pytest.mark.parametrize(
    "scorer,dtype,error",
    [
        (distance.Levenshtein.similarity, np.int32, None),
        (distance.Levenshtein.normalized_distance, np.float32, None),
        (distance.Levenshtein.normalized_distance, np.int64, TypeError),
        (distance.Jaro.distance, np.int16, TypeError),
    ],
)
def test_derived_forms_take_the_dtypes_their_values_fit(scorer, dtype, error):
    if error:
        with pytest.raises(error, match="cannot hold"):
            vornkit.cdist(["ab"], ["abc"], scorer=scorer, dtype=dtype)
    else:
        out = vornkit.cdist(["ab"], ["abc"], scorer=scorer, dtype=dtype)
        assert out.dtype == dtype and out[0, 0] == dtype(scorer("ab", "abc"))


def test_searches_over_many_rows_score_them_block_by_block(monkeypatch):
    """Rows read again per block are processed as the first were."""
    from vornkit import _scorer_forms

    monkeypatch.setattr(_scorer_forms, "_CELLS_PER_BLOCK", 2 * len(CHOICES))
    queries = [q.upper() if q else q for q in QUERIES] * 2
    scorer = distance.Indel.normalized_distance
    whole_indices, whole_scores = vornkit.topk(queries[1:2], CHOICES, 3, scorer=scorer, processor=str.lower)
    indices, scores = vornkit.topk(queries, vornkit.prepare(CHOICES, processor=str.lower), 3, scorer=scorer)
    for i, query in enumerate(queries):
        best = _ranked(scorer, "normalized_distance", query.lower(), None, {})[:3] if query is not None else []
        assert indices[i].tolist()[: len(best)] == [j for _, j in best]
        assert scores[i].tolist()[: len(best)] == [v for v, _ in best]
    np.testing.assert_array_equal(indices[1:2], whole_indices)
    np.testing.assert_array_equal(scores[1:2], whole_scores)
    i, j, _ = vornkit.threshold_join(queries, scorer=scorer, score_cutoff=0.3, processor=str.lower)
    assert sorted(zip(i.tolist(), j.tolist())) == [
        (x, y)
        for x in range(len(queries))
        for y in range(x + 1, len(queries))
        if queries[x] is not None and queries[y] is not None and scorer(queries[x].lower(), queries[y].lower()) <= 0.3
    ]


def test_forms_are_scored_before_vornkit_distance_is_imported():
    # The command line reaches these functions through the native module, never importing vornkit.distance.
    import subprocess
    import sys

    code = (
        "import sys, vornkit, vornkit._native as n\n"
        "assert 'vornkit.distance' not in sys.modules\n"
        "print(vornkit.extract_one('kitten', ['sitting', 'kitten!'], scorer=n.levenshtein_similarity))"
    )
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "('kitten!', 6, 1)"
