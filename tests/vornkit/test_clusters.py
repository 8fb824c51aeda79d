"""Clusters from scored pairs: plain components, and the split of long
chains against a direct reading of the documented rule."""

import random

import numpy as np
import pytest

import vornkit


def components(nodes, edges):
    """Connected components of nodes under edges, as frozensets."""
    parent = {v: v for v in nodes}

    def find(x):
        while parent[x] != x:
            x = parent[x]
        return x

    for a, b, _ in edges:
        parent[find(a)] = find(b)
    groups = {}
    for v in nodes:
        groups.setdefault(find(v), set()).add(v)
    return [frozenset(g) for g in groups.values()]


def reference(n, pairs, threshold, limit):
    """The documented rule, top down: a component larger than the limit is
    split by raising the threshold within it to the next distinct
    probability, each part handled again."""
    clusters = []

    def split(nodes, edges, level):
        kept = [e for e in edges if e[2] >= level]
        for part in components(nodes, kept):
            inner = [e for e in kept if e[0] in part and e[1] in part]
            if limit is None or len(part) <= limit:
                clusters.append(part)
            else:
                higher = sorted({e[2] for e in inner if e[2] > level})
                if not higher:  # every link at one level: all apart
                    clusters.extend(frozenset([v]) for v in part)
                else:
                    split(part, inner, higher[0])

    usable = [p for p in pairs if p[2] >= threshold]
    split(set(range(n)), usable, threshold)
    labels = [0] * n
    for cluster in clusters:
        for v in cluster:
            labels[v] = min(cluster)
    return labels


def run(n, pairs, threshold, limit):
    i = [a for a, _, _ in pairs]
    j = [b for _, b, _ in pairs]
    p = [w for _, _, w in pairs]
    return vornkit.cluster_pairs(n, i, j, p, threshold, max_cluster_size=limit).tolist()


CHAIN = [(0, 1, 0.99), (1, 2, 0.95), (2, 3, 0.6), (3, 4, 0.97), (4, 5, 0.9)]


@pytest.mark.parametrize(
    "threshold,limit,labels",
    [
        (0.5, None, [0, 0, 0, 0, 0, 0]),
        (0.5, 6, [0, 0, 0, 0, 0, 0]),
        (0.5, 3, [0, 0, 0, 3, 3, 3]),  # the weakest link goes first
        (0.5, 2, [0, 0, 2, 3, 3, 5]),
        (0.93, None, [0, 0, 0, 3, 3, 5]),  # links below the threshold are no links
        (0.5, 1, [0, 1, 2, 3, 4, 5]),
    ],
)
def test_chain_is_cut_at_its_weakest_links(threshold, limit, labels):
    assert run(6, CHAIN, threshold, limit) == labels


def test_links_of_equal_probability_are_taken_or_dropped_together():
    star = [(0, k, 0.9) for k in range(1, 5)]
    assert run(5, star, 0.5, 4) == [0, 1, 2, 3, 4]
    assert run(5, star, 0.5, 5) == [0, 0, 0, 0, 0]


def test_a_part_split_off_keeps_no_weaker_link():
    # {0,1,2} would grow past 3 at 0.8 and stays as it was; 3 and 4 join at
    # 0.8 on their own; their 0.7 link into {0,1,2} is refused as well.
    pairs = [(0, 1, 0.95), (1, 2, 0.9), (2, 5, 0.8), (5, 6, 0.85), (3, 4, 0.8), (4, 0, 0.7)]
    assert run(7, pairs, 0.5, 3) == [0, 0, 0, 3, 3, 5, 5]


def test_nan_probability_is_no_link():
    assert run(3, [(0, 1, float("nan")), (1, 2, 0.9)], 0.5, None) == [0, 1, 1]


@pytest.mark.parametrize("seed", range(12))
def test_random_graphs_follow_the_rule_in_any_order(seed):
    rng = random.Random(seed)
    n = rng.randrange(5, 40)
    levels = [0.3, 0.55, 0.7, 0.8, 0.9, 0.95, 0.99]
    pairs = []
    for _ in range(rng.randrange(0, 3 * n)):
        a, b = rng.sample(range(n), 2)
        pairs.append((a, b, rng.choice(levels)))
    limit = rng.choice([None, 1, 2, 3, 5, 8])
    expected = reference(n, pairs, 0.5, limit)
    assert run(n, pairs, 0.5, limit) == expected
    rng.shuffle(pairs)
    flipped = [(b, a, w) if rng.random() < 0.5 else (a, b, w) for a, b, w in pairs]
    assert run(n, flipped, 0.5, limit) == expected


@pytest.mark.parametrize(
    "arguments,error,message",
    [
        ((3, [0], [3], [0.9], 0.5), IndexError, "outside 0 .. 2"),
        ((3, [-1], [1], [0.9], 0.5), IndexError, "outside"),
        ((3, [0, 1], [1], [0.9], 0.5), ValueError, "same length"),
    ],
)
def test_bad_input_is_refused(arguments, error, message):
    with pytest.raises(error, match=message):
        vornkit.cluster_pairs(*arguments)
    with pytest.raises(ValueError, match="at least 1"):
        vornkit.cluster_pairs(2, [0], [1], [0.9], 0.5, max_cluster_size=0)


def test_isolated_records_are_their_own_cluster():
    labels = vornkit.cluster_pairs(4, np.array([], dtype=np.int64), [], [], 0.5)
    assert labels.tolist() == [0, 1, 2, 3] and labels.dtype == np.int64
