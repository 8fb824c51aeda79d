"""Eight threads calling every function and method at once, on shared
Preprocessor and VornFlow objects, get exactly the results of one thread."""

import random
import threading

import reference as ref
import vorn

THREADS = 8
ROUNDS = 30
PREPROCESSOR = vorn.Preprocessor().with_stopwords(["a", "é"]).with_remove_stopwords(True).with_max_length(60)
FLOW = (
    vorn.VornFlow()
    .preprocess(True)
    .tier_1("jaro_winkler", "gt", 0.95, "lt", 0.2)
    .tier_2("jaccard_bigram", "between", 0.3, 1.0)
)


def workload():
    rng = random.Random("threads")
    texts = [ref.random_text(rng, "abcdé漢 😀", rng.randrange(1, 150)) for _ in range(12)]
    texts += [ref.random_text(rng, "abcdé漢 😀", 40) for _ in range(2)]  # equal lengths for Hamming
    calls = []
    for a, b in zip(texts, texts[1:]):
        calls += [(PREPROCESSOR.process, {"text": a}), (FLOW.compare, {"a": a, "b": b})]
        for fn, kwargs in ref.CALLS.values():
            if not isinstance(fn(**kwargs), (vorn.Preprocessor, vorn.VornFlow)):
                calls.append((fn, {k: {"a": a, "b": b, "text": a}.get(k, v) for k, v in kwargs.items()}))
    return calls


def run(calls):
    results = []
    for fn, kwargs in calls:
        try:
            results.append(fn(**kwargs))
        except ValueError as error:  # e.g. Hamming on texts of unequal lengths
            results.append(("ValueError", str(error)))
    return results


def test_concurrent_results_equal_single_threaded():
    calls = workload()
    expected = run(calls)
    outcomes = [[] for _ in range(THREADS)]
    start = threading.Barrier(THREADS)

    def worker(index):
        start.wait()
        # Each thread walks the calls in its own order, so that different functions overlap.
        order = list(range(len(calls)))
        random.Random(index).shuffle(order)
        for _ in range(ROUNDS):
            got = run([calls[i] for i in order])
            outcomes[index].append([r for _, r in sorted(zip(order, got))])

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert outcomes == [[expected] * ROUNDS] * THREADS
