"""Threads and interrupts: Ctrl-C stops every collection function quickly and
leaves no thread behind; lists changed by other threads while the lock is
released are read as they were at the call."""

import random
import threading

import harness
import numpy as np
import pytest
import vorn

import vornkit

rng = random.Random(1)
LONG = ["".join(rng.choice("abcdé ") for _ in range(4000)) for _ in range(200)]
NAMES = ["".join(rng.choice("abcdefgh") for _ in range(12)) for _ in range(30_000)]

# Each runs for many seconds unless interrupted.
LONG_JOBS = {
    "cdist": lambda w: vornkit.cdist(LONG, LONG, scorer=vorn.levenshtein_distance, workers=w),
    "cpdist": lambda w: vornkit.cpdist(LONG * 50, LONG[::-1] * 50, scorer=vorn.levenshtein_similarity, workers=w),
    "topk": lambda w: vornkit.topk(LONG, LONG, 3, scorer=vorn.jaro_winkler_similarity, workers=w),
    "extract": lambda w: vornkit.extract(LONG[0], LONG * 100, scorer=vorn.levenshtein_distance, workers=w),
    # A cutoff low enough to be scored pair by pair, not through an EditIndex.
    "threshold_join": lambda w: vornkit.threshold_join(
        NAMES, scorer=vorn.levenshtein_similarity, score_cutoff=0.7, workers=w
    ),
    "processor": lambda w: vornkit.cdist(
        LONG * 2000,
        [],
        scorer=vorn.levenshtein_distance,
        processor=vorn.Preprocessor().with_remove_stopwords(True),
        workers=w,
    ),
}


@pytest.mark.parametrize("workers", [1, 2])
@pytest.mark.parametrize("job", LONG_JOBS)
def test_ctrl_c_stops_quickly_and_joins_every_thread(job, workers):
    harness.assert_interrupted_quickly(lambda: LONG_JOBS[job](workers))


def test_lists_changed_by_other_threads_are_read_as_called():
    texts = ["".join(rng.choice("äöü xyz") for _ in range(40)) for _ in range(400)]
    expected = vornkit.cdist(texts, texts[:50], scorer=vorn.levenshtein_distance)
    shared = list(texts)
    done = threading.Event()

    def churn():
        # Equal values in new objects: the old ones, and their UTF-8 forms,
        # are freed unless vornkit holds them.
        k = 0
        while not done.is_set():
            shared[k % len(shared)] = "".join(list(shared[k % len(shared)]))
            k += 1

    worker = threading.Thread(target=churn)
    worker.start()
    try:
        for _ in range(5):
            got = vornkit.cdist(shared, texts[:50], scorer=vorn.levenshtein_distance, workers=2)
            np.testing.assert_array_equal(got, expected)
    finally:
        done.set()
        worker.join()


def test_calls_from_several_threads_at_once():
    queries, choices = NAMES[:300], NAMES[300:900]
    expected = vornkit.cdist(queries, choices, scorer=vorn.jaro_winkler_similarity)
    results = [None] * 4

    def run(slot):
        results[slot] = vornkit.cdist(queries, choices, scorer=vorn.jaro_winkler_similarity, workers=2)

    threads = [threading.Thread(target=run, args=(slot,)) for slot in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for result in results:
        np.testing.assert_array_equal(result, expected)
