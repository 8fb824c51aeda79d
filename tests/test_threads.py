"""Eight threads calling everything at once, on shared Preprocessor and
VornFlow objects, get exactly the results of a single thread."""

import random
import threading

import vorn

THREADS = 8
ROUNDS = 30


def workload():
    rng = random.Random("threads")
    alphabet = "abcdé漢 😀"
    texts = ["".join(rng.choice(alphabet) for _ in range(rng.randrange(1, 150))) for _ in range(12)]
    equal = ["".join(rng.choice(alphabet) for _ in range(40)) for _ in range(2)]
    preprocessor = vorn.Preprocessor().with_stopwords(["a", "é"]).with_remove_stopwords(True).with_max_length(60)
    flow = (vorn.VornFlow().preprocess(True)
            .tier_1("jaro_winkler", "gt", 0.95, "lt", 0.2)
            .tier_2("jaccard_bigram", "between", 0.3, 1.0))
    calls = []
    for a, b in zip(texts, texts[1:]):
        calls += [
            (vorn.levenshtein_distance, (a, b)), (vorn.levenshtein_similarity, (a, b)),
            (vorn.jaro_winkler_similarity, (a, b)), (vorn.jaccard_similarity, (a, b, 3)),
            (vorn.jaccard_bigram_similarity, (a, b)), (vorn.jaccard_trigram_similarity, (a, b)),
            (vorn.jaccard_word_similarity, (a, b)), (vorn.minhash_signature, (a, 3, 32)),
            (vorn.minhash_similarity, (a, b, 2, 32)), (vorn.minhash_similarity_default, (a, b)),
            (vorn.simhash_fingerprint, (a, 2)), (vorn.simhash_fingerprint_default, (a,)),
            (vorn.simhash_similarity, (a, b, 3)), (vorn.simhash_similarity_default, (a, b)),
            (vorn.bm25_similarity, (a, b)), (vorn.tfidf_similarity, (a, b)),
            (vorn.clean_text, (a,)), (vorn.clean_text_stopwords, (a,)),
            (preprocessor.process, (a,)), (flow.compare, (a, b)),
            (flow.compare_with_intent, ("auto", a, b)), (flow.compare_with_intent, ("names", a, b)),
        ]
    calls += [(vorn.hamming_distance, tuple(equal)), (vorn.hamming_similarity, tuple(equal))]
    return calls


def run(calls):
    results = []
    for fn, args in calls:
        try:
            results.append(fn(*args))
        except ValueError as error:  # e.g. an intent that cannot compare the pair
            results.append(("ValueError", str(error)))
    return results


def test_concurrent_results_equal_single_threaded():
    calls = workload()
    expected = run(calls)
    outcomes = [[] for _ in range(THREADS)]
    start = threading.Barrier(THREADS)

    def worker(index):
        start.wait()
        # Each thread walks the calls in its own order, so that different
        # functions overlap.
        order = list(range(len(calls)))
        random.Random(index).shuffle(order)
        for _ in range(ROUNDS):
            got = run([calls[i] for i in order])
            outcomes[index].append({i: r for i, r in zip(order, got)})

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for per_thread in outcomes:
        assert len(per_thread) == ROUNDS
        for round_results in per_thread:
            assert [round_results[i] for i in range(len(calls))] == expected
