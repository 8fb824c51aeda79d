"""vornkit used as a careless or hostile user would: absurd thread counts and
sizes, index files changed or raced under it, and nulls and odd values that
must never be linked or returned. The command line's files are in
test_cli_files.py."""

import os
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest
import vorn

import vornkit

HUGE_WORKERS = [2**62, 2**63 - 1, 2**64, 2**100]


def run_python(code: str) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=300, check=False
    )


# ---------------------------------------------------------------- workers


@pytest.mark.parametrize("workers", HUGE_WORKERS)
def test_any_large_worker_count_gives_the_result_of_one(workers):
    queries, choices = ["abc", "abd", "xyz", None], ["abc", "zzz", "abx", "ab", None]
    expected = vornkit.topk(queries, choices, 2, scorer=vorn.levenshtein_distance, workers=1)
    got = vornkit.topk(queries, choices, 2, scorer=vorn.levenshtein_distance, workers=workers)
    np.testing.assert_array_equal(got[0], expected[0])
    np.testing.assert_array_equal(got[1], expected[1])
    one = vornkit.extract("abc", choices, scorer=vorn.jaro_winkler_similarity, workers=1)
    assert vornkit.extract("abc", choices, scorer=vorn.jaro_winkler_similarity, workers=workers) == one
    texts = ["the same text", "the same text!", "other"]
    np.testing.assert_array_equal(
        vornkit.minhash_signatures(["abcdef"] * 3, workers=workers), vornkit.minhash_signatures(["abcdef"] * 3)
    )
    np.testing.assert_array_equal(vornkit.dedup(texts, workers=workers), vornkit.dedup(texts))


@pytest.mark.parametrize("workers", [0, -2, -(2**63), -(2**100)])
def test_worker_counts_below_minus_one_are_refused(workers):
    with pytest.raises(ValueError, match="workers"):
        vornkit.topk(["a"], ["a"], 1, scorer=vorn.levenshtein_distance, workers=workers)
    with pytest.raises(ValueError, match="workers"):
        vornkit.minhash_signatures(["abc"], workers=workers)


def peak_memory_mb(call: str) -> float:
    done = run_python(
        f"""
        import resource, numpy as np, vorn, vornkit
        {call}
        print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024)
        """
    )
    assert done.returncode == 0, done.stderr
    return float(done.stdout.split()[-1])


def test_memory_follows_the_threads_started_not_the_workers_asked():
    # Heaps are per thread started (at most the cores) and never hold more
    # candidates than there are choices.
    topk = (
        "vornkit.topk([str(i) for i in range(2000)], [str(i) for i in range(10)], 2000,"
        " scorer=vorn.levenshtein_distance, workers={})"
    )
    one, many = peak_memory_mb(topk.format(1)), peak_memory_mb(topk.format(10**6))
    assert many < one + 40, (one, many)
    # One MinHash scratch per thread started, not per worker asked.
    signatures = "vornkit.minhash_signatures(['some text'] * 10, workers={})"
    one, many = peak_memory_mb(signatures.format(1)), peak_memory_mb(signatures.format(10**6))
    assert many < one + 40, (one, many)


# ---------------------------------------------------------------- sizes


SIZE_CALLS = {
    "minhash_signatures": lambda size: vornkit.minhash_signatures(["abcdef"], size),
    "minhash_signatures of nothing": lambda size: vornkit.minhash_signatures([], size),
    "minhash num_hashes": lambda size: vornkit.minhash_signatures(["abcdef"], 3, size),
    "simhash_fingerprints": lambda size: vornkit.simhash_fingerprints(["abcdef"], size),
    "dedup minhash": lambda size: vornkit.dedup(["abcdef", "abcdeg"], shingle_size=size),
    "dedup simhash": lambda size: vornkit.dedup(["abcdef", "abcdeg"], method="simhash", shingle_size=size),
    "SimHashIndex": lambda size: vornkit.SimHashIndex(size),
    "MinHashLSH": lambda size: vornkit.MinHashLSH(0.5, size),
    "MinHashLSH bands": lambda size: vornkit.MinHashLSH(0.5, 128, bands=(size, 1)),
    "lsh_params": lambda size: vornkit.lsh_params(0.5, size),
    "lsh_band_keys": lambda size: vornkit.lsh_band_keys(np.zeros((1, 4), np.uint64), size, 1),
}


@pytest.mark.parametrize("size", [2**64 + 3, 2**64 + 128, 2**65])
@pytest.mark.parametrize("call", SIZE_CALLS.values(), ids=SIZE_CALLS.keys())
def test_sizes_beyond_64_bits_are_refused_not_wrapped(call, size):
    # Taken modulo 2**64 these sizes would be small and valid.
    with pytest.raises((OverflowError, ValueError)):
        call(size)


@pytest.mark.parametrize("fingerprints", [vornkit.minhash_signatures, vornkit.simhash_fingerprints])
def test_a_negative_shingle_size_raises_as_vorn_does(fingerprints):
    with pytest.raises(OverflowError) as ours:
        fingerprints(["abcdef"], -1)
    with pytest.raises(OverflowError) as theirs:
        vorn.minhash_signature("abcdef", -1, 128)
    assert str(ours.value) == str(theirs.value)
    assert "while processing 'shingle_size'" in ours.value.__notes__
    with pytest.raises(OverflowError):
        vornkit.dedup(["abc"], shingle_size=-1)


def test_simhash_index_size_and_band_pair_checks():
    with pytest.raises(ValueError, match="max_distance"):
        vornkit.SimHashIndex(64)
    assert vornkit.SimHashIndex(63).max_distance == 63
    with pytest.raises(ValueError, match=r"\(bands, rows\) pair"):
        vornkit.MinHashLSH(0.5, 128, bands=(3,))


@pytest.mark.parametrize("nan", [float("nan"), np.float64("nan")])
def test_nan_of_any_float_type_is_a_null(nan):
    indices, _ = vornkit.topk(["abc"], [nan, "abc"], 2, scorer=vorn.levenshtein_distance)
    assert indices.tolist() == [[1, -1]]
    with pytest.raises(ValueError, match=r"texts\[1\] is null"):
        vornkit.dedup(["abc", nan])


# ---------------------------------------------------------------- index files


def built(kind):
    rng = np.random.default_rng(5)
    keys = np.arange(200)
    if kind == "lsh":
        index = vornkit.MinHashLSH(0.5, 32)
        signatures = rng.integers(0, 4, size=(200, 32), dtype=np.uint64)
        index.add(keys, signatures)
        return index, signatures[:20]
    index = vornkit.SimHashIndex(3)
    fingerprints = rng.integers(0, 2**63, size=200, dtype=np.uint64)
    index.add(keys, fingerprints)
    return index, fingerprints[:20]


def answers(index, probes):
    return [index.query(p).tolist() for p in probes], [column.tolist() for column in _pairs(index)]


def _pairs(index):
    return index.pairs()


@pytest.mark.parametrize("kind", ["lsh", "sim"])
@pytest.mark.parametrize("change", ["truncate", "rewrite in place", "remove"])
def test_a_loaded_index_ignores_later_changes_to_its_file(tmp_path, kind, change):
    index, probes = built(kind)
    other, _ = built(kind)
    other.remove(np.arange(100))
    path, other_path = tmp_path / "index.bin", tmp_path / "other.bin"
    index.save(path)
    other.save(other_path)
    loaded = type(index).load(path)
    if change == "truncate":
        os.truncate(path, 100)
    elif change == "rewrite in place":  # as cp does: same inode, truncated then written
        with open(path, "r+b") as file:
            file.truncate(0)
            file.write(other_path.read_bytes())
    else:
        path.unlink()
    assert answers(loaded, probes) == answers(index, probes)


@pytest.mark.parametrize("kind", ["lsh", "sim"])
def test_concurrent_saves_leave_one_whole_index(tmp_path, kind):
    first, probes = built(kind)
    second, _ = built(kind)
    second.remove(np.arange(0, 200, 2))
    expected = [answers(first, probes), answers(second, probes)]
    path = tmp_path / "index.bin"
    failures = []

    def save(index):
        try:
            index.save(path)
        except Exception as error:  # noqa: BLE001
            failures.append(error)

    for _ in range(30):
        threads = [threading.Thread(target=save, args=(index,)) for index in (first, second)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        assert failures == []
        assert answers(type(first).load(path), probes) in expected
    assert sorted(os.listdir(tmp_path)) == ["index.bin"]


def test_save_never_writes_through_a_planted_link(tmp_path):
    index, _ = built("sim")
    victim = tmp_path / "victim"
    victim.write_bytes(b"precious")
    path = tmp_path / "index.bin"
    # The names a predictable scheme would use.
    for name in (f"index.bin.tmp{os.getpid()}", f"index.bin.tmp-{os.getpid()}", "index.bin.tmp"):
        (tmp_path / name).symlink_to(victim)
    index.save(path)
    assert victim.read_bytes() == b"precious"
    assert not path.is_symlink() and type(index).load(path).max_distance == 3
    assert len(os.listdir(tmp_path)) == 5
