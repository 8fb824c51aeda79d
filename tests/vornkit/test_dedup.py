"""Batch fingerprints, the LSH helpers, components and dedup, each checked
against vorn's scalar functions or a plain Python reference."""

import itertools
import math
import random
import time

import harness
import numpy as np
import pytest
import reference as ref
import vorn

import vornkit

TEXTS = ref.planted_corpus(1)


def as_input(kind, texts):
    if kind == "list":
        return texts
    if kind == "numpy":
        return np.array(texts, dtype=object)
    if kind == "pandas":
        return pytest.importorskip("pandas").Series(texts)
    return pytest.importorskip("pyarrow").array(texts)


# ---- batch fingerprints ----


@pytest.mark.parametrize("kind", ["list", "numpy", "pandas", "arrow"])
@pytest.mark.parametrize("shingle_size, num_hashes", [(3, 128), (1, 7), (5, 64), (200, 3), (2, 0)])
def test_signature_rows_are_the_scalar_signatures(kind, shingle_size, num_hashes):
    got = vornkit.minhash_signatures(as_input(kind, TEXTS), shingle_size, num_hashes, workers=2)
    assert got.dtype == np.uint64 and got.shape == (len(TEXTS), num_hashes)
    expected = [vorn.minhash_signature(t, shingle_size, num_hashes) for t in TEXTS]
    assert got.tolist() == expected


@pytest.mark.parametrize("kind", ["list", "numpy", "arrow"])
@pytest.mark.parametrize("shingle_size", [1, 4, 9, 500])
def test_fingerprints_are_the_scalar_fingerprints(kind, shingle_size):
    got = vornkit.simhash_fingerprints(as_input(kind, TEXTS), shingle_size, workers=2)
    assert got.dtype == np.uint64
    assert got.tolist() == [vorn.simhash_fingerprint(t, shingle_size) for t in TEXTS]


@pytest.mark.parametrize(
    "call",
    [
        lambda t: vornkit.minhash_signatures(t, 0),
        lambda t: vornkit.simhash_fingerprints(t, 0),
        lambda t: vornkit.dedup(t, shingle_size=0),
    ],
)
def test_zero_shingle_size_is_refused_as_by_vorn(call):
    with pytest.raises(ValueError, match="window size must be non-zero"):
        call(["abc"])


@pytest.mark.parametrize("call", [vornkit.minhash_signatures, vornkit.simhash_fingerprints, vornkit.dedup])
def test_nulls_are_refused_with_their_position(call):
    with pytest.raises(ValueError, match=r"texts\[2\] is null"):
        call(["a", "b", None])


def test_empty_input():
    assert vornkit.minhash_signatures([]).shape == (0, 128)
    assert vornkit.simhash_fingerprints([]).shape == (0,)
    assert vornkit.dedup([]).shape == (0,)


# ---- band shape ----


def reference_error(threshold, bands, rows, weights, points=4001):
    """Weighted error of a shape by a fine trapezoid rule."""

    def integral(lo, hi, f):
        s = np.linspace(lo, hi, points)
        return float(np.trapezoid(f(s), s)) if hi > lo else 0.0

    p = lambda s: 1.0 - (1.0 - s**rows) ** bands  # noqa: E731
    return weights[0] * integral(0.0, threshold, p) + weights[1] * integral(threshold, 1.0, lambda s: 1.0 - p(s))


@pytest.mark.parametrize("num_hashes", [32, 128])
@pytest.mark.parametrize("weights", [(0.5, 0.5), (0.9, 0.1), (0.2, 0.8)])
@pytest.mark.parametrize("threshold", [0.1, 0.3, 0.5, 0.7, 0.8, 0.9, 0.95])
def test_band_shape_is_the_brute_force_minimum(threshold, num_hashes, weights):
    errors = {
        (b, r): reference_error(threshold, b, r, weights)
        for b in range(1, num_hashes + 1)
        for r in range(1, num_hashes // b + 1)
    }
    bands, rows = vornkit.lsh_params(threshold, num_hashes, weights)
    assert bands * rows <= num_hashes
    best = min(errors.values())
    assert errors[(bands, rows)] <= best + 1e-7
    runner_up = sorted(errors.values())[1]
    if runner_up - best > 1e-6:
        assert errors[(bands, rows)] == best


def test_band_shape_of_common_settings():
    # The shapes other MinHash LSH libraries pick for these settings.
    assert vornkit.lsh_params(0.8, 128) == (9, 13)
    assert vornkit.lsh_params(0.5, 128) == (25, 5)
    lsh = vornkit.MinHashLSH(0.8, 128)
    assert (lsh.bands, lsh.rows) == (9, 13)
    assert (vornkit.MinHashLSH(bands=16).bands, vornkit.MinHashLSH(bands=16).rows) == (16, 8)
    assert vornkit.MinHashLSH(bands=(4, 5)).rows == 5


@pytest.mark.parametrize(
    "args, message",
    [
        ((1.5, 128), "threshold"),
        ((-0.1, 128), "threshold"),
        ((0.5, 0), "num_hashes"),
        ((0.5, 128, (0.0, 0.0)), "weights"),
        ((0.5, 128, (-1.0, 2.0)), "weights"),
        ((0.5, 128, (0.5,)), "weights"),
    ],
)
def test_bad_lsh_settings(args, message):
    with pytest.raises(ValueError, match=message):
        vornkit.lsh_params(*args)


def test_shape_that_does_not_fit_is_refused():
    with pytest.raises(ValueError, match="bands \\* rows"):
        vornkit.MinHashLSH(num_hashes=64, bands=(9, 8))
    with pytest.raises(ValueError, match="bands \\* rows"):
        vornkit.lsh_band_keys(np.zeros((2, 10), np.uint64), 3, 4)


# ---- band keys and agreement ----


def test_band_keys_group_exactly_the_equal_bands():
    sig = vornkit.minhash_signatures(TEXTS, 3, 60)
    bands, rows = 6, 9  # 54 of 60 values used
    keys = vornkit.lsh_band_keys(sig, bands, rows)
    assert keys.shape == (len(TEXTS), bands) and keys.dtype == np.uint64
    for band in range(bands):
        values = [tuple(row[band * rows : (band + 1) * rows]) for row in sig.tolist()]
        for a, b in itertools.combinations(range(len(TEXTS)), 2):
            assert (keys[a, band] == keys[b, band]) == (values[a] == values[b])
    # Different bands of equal values get different keys.
    constant = np.zeros((1, 8), np.uint64)
    assert len(set(vornkit.lsh_band_keys(constant, 4, 2)[0].tolist())) == 4


def band_key_reference(values, band):
    """The band key, step by step: a mix of the band number, then of each value."""
    m64, golden, c = (1 << 64) - 1, 0x9E3779B97F4A7C15, 0xD6E8FEB86659FD93

    def mix(x):
        x ^= x >> 32
        x = x * c & m64
        x ^= x >> 32
        x = x * c & m64
        return x ^ (x >> 32)

    h = mix((band + 1) * golden & m64)
    for value in values:
        h = (mix(h ^ value) + golden) & m64
    return h


# n * bands around the 8 keys hashed side by side: none, a remainder, whole groups.
@pytest.mark.parametrize("n, bands, rows, num_hashes", [(1, 1, 1, 1), (3, 3, 2, 7), (2, 4, 1, 4), (5, 9, 13, 128)])
def test_band_keys_are_fixed_values(n, bands, rows, num_hashes):
    sig = np.random.default_rng(n).integers(0, 2**64, size=(n, num_hashes), dtype=np.uint64)
    keys = vornkit.lsh_band_keys(sig, bands, rows)
    expected = [[band_key_reference(row[k * rows : (k + 1) * rows], k) for k in range(bands)] for row in sig.tolist()]
    assert keys.tolist() == expected


def test_agreement_is_vorns_minhash_similarity():
    sig = vornkit.minhash_signatures(TEXTS, 3, 128)
    a, b = sig[:-1], sig[1:]
    got = vornkit.signature_agreement(a, b)
    expected = [vorn.minhash_similarity(x, y, 3, 128) for x, y in zip(TEXTS[:-1], TEXTS[1:])]
    assert got.tolist() == expected
    assert vornkit.signature_agreement(sig[0], sig).tolist() == [
        vorn.minhash_similarity(TEXTS[0], t, 3, 128) for t in TEXTS
    ]
    assert math.isnan(vornkit.signature_agreement(np.zeros((1, 0)), np.zeros((1, 0)))[0])


# ---- components ----


def reference_components(n, edges):
    labels = list(range(n))
    changed = True
    while changed:  # propagate the smallest label along edges until stable
        changed = False
        for a, b in edges:
            low = min(labels[a], labels[b])
            if labels[a] != low or labels[b] != low:
                labels[a] = labels[b] = low
                changed = True
    return labels


@pytest.mark.parametrize("seed", range(5))
def test_components_are_the_reference_components(seed):
    r = random.Random(seed)
    n = r.randint(1, 300)
    edges = [(r.randrange(n), r.randrange(n)) for _ in range(r.randint(0, n))]
    i = [a for a, _ in edges]
    j = [b for _, b in edges]
    assert vornkit.connected_components(i, j, n).tolist() == reference_components(n, edges)
    # The labels do not depend on the order of the edges.
    assert vornkit.connected_components(j[::-1], i[::-1], n).tolist() == reference_components(n, edges)


@pytest.mark.parametrize("i, j, n", [([0], [3], 3), ([-1], [0], 3), ([0, 1], [1], 3)])
def test_bad_edges(i, j, n):
    with pytest.raises(ValueError):
        vornkit.connected_components(i, j, n)


# ---- dedup ----


def reference_minhash_dedup(texts, threshold, shingle_size, num_hashes):
    sig = [vorn.minhash_signature(t, shingle_size, num_hashes) for t in texts]
    bands, rows = vornkit.lsh_params(threshold, num_hashes)
    edges = set()
    for band in range(bands):
        groups = {}
        for i, s in enumerate(sig):
            groups.setdefault(tuple(s[band * rows : (band + 1) * rows]), []).append(i)
        for members in groups.values():
            for a, b in itertools.combinations(members, 2):
                if vorn.minhash_similarity(texts[a], texts[b], shingle_size, num_hashes) >= threshold:
                    edges.add((a, b))
    return reference_components(len(texts), edges)


def reference_simhash_dedup(texts, threshold, shingle_size):
    edges = [
        (a, b)
        for a, b in itertools.combinations(range(len(texts)), 2)
        if vorn.simhash_similarity(texts[a], texts[b], shingle_size) >= threshold
    ]
    return reference_components(len(texts), edges)


# 0.75 with 8 hashes is met exactly by many pairs.
@pytest.mark.parametrize(
    "threshold, shingle_size, num_hashes", [(0.8, 3, 128), (0.5, 2, 64), (0.95, 5, 32), (0.75, 3, 8)]
)
def test_minhash_dedup_is_the_reference(threshold, shingle_size, num_hashes):
    texts = ref.planted_corpus(threshold)
    expected = reference_minhash_dedup(texts, threshold, shingle_size, num_hashes)
    got = vornkit.dedup(texts, threshold=threshold, shingle_size=shingle_size, num_hashes=num_hashes)
    assert got.dtype == np.int64 and got.tolist() == expected
    assert len(set(expected)) < len(texts) - 10  # the planted copies were found


@pytest.mark.parametrize("threshold, shingle_size", [(1 - 3 / 64, 4), (0.9, 3), (0.8, 4), (0.0, 4), (1.0, 2)])
def test_simhash_dedup_is_the_reference(threshold, shingle_size):
    texts = ref.planted_corpus(7, originals=25)
    got = vornkit.dedup(texts, method="simhash", threshold=threshold, shingle_size=shingle_size)
    assert got.tolist() == reference_simhash_dedup(texts, threshold, shingle_size)


def test_dedup_is_the_same_with_any_workers_and_input():
    texts = ref.planted_corpus(3, originals=300)
    for method in ("minhash", "simhash"):
        runs = [
            vornkit.dedup(as_input(kind, texts), method=method, workers=workers)
            for kind, workers in [("list", 1), ("list", 2), ("numpy", 2), ("list", 3)]
        ]
        for run in runs[1:]:
            np.testing.assert_array_equal(run, runs[0])


def test_many_exact_copies_stay_cheap():
    # One group of 20000 equal signatures: linked in one pass, not pair by pair.
    started = time.monotonic()
    labels = vornkit.dedup(["same text"] * 20_000 + ["other"])
    assert time.monotonic() - started < 10
    assert labels.tolist() == [0] * 20_000 + [20_000]


def test_bad_dedup_arguments():
    with pytest.raises(ValueError, match="method"):
        vornkit.dedup(["a"], method="exact")  # type: ignore[arg-type]
    with pytest.raises(ValueError, match="threshold"):
        vornkit.dedup(["a"], threshold=1.5)


def test_progress_bar_goes_to_stderr(capsys):
    labels = vornkit.dedup(TEXTS, progress=True)
    assert labels.tolist() == vornkit.dedup(TEXTS).tolist()
    err = capsys.readouterr().err
    assert "signatures" in err and "bands" in err


# ---- interrupts ----

LONG = [ref.document(random.Random(i), 400) for i in range(40)] * 2000

LONG_JOBS = {
    "minhash_signatures": lambda w: vornkit.minhash_signatures(LONG, num_hashes=512, workers=w),
    "simhash_fingerprints": lambda w: vornkit.simhash_fingerprints(LONG * 20, workers=w),
    "dedup": lambda w: vornkit.dedup(LONG, num_hashes=512, workers=w, progress=False),
}


@pytest.mark.parametrize("workers", [1, 2])
@pytest.mark.parametrize("job", LONG_JOBS)
def test_ctrl_c_stops_quickly_and_joins_every_thread(job, workers):
    harness.assert_interrupted_quickly(lambda: LONG_JOBS[job](workers))
