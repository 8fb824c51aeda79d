"""Entities from scored links: connected components with a guard against
long chains."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

import vornkit

Int64Array = npt.NDArray[np.int64]


def cluster_pairs(
    n: int,
    i: npt.ArrayLike,
    j: npt.ArrayLike,
    probability: npt.ArrayLike,
    threshold: float,
    *,
    max_cluster_size: int | None = 50,
) -> Int64Array:
    """Cluster records into entities from their scored pairs.

    Records joined by links with ``probability >= threshold`` form one
    cluster (connected components). A chain of links, each plausible, can
    join records that share nothing (A-B, B-C, ... up to a whole household
    or street), so a component with more than ``max_cluster_size`` records
    is split: within it the threshold is raised, one distinct probability
    at a time, and each part that then has at most ``max_cluster_size``
    records is kept as it stands, while a larger part is split again. Links
    of equal probability are taken or dropped together. The result is the
    same as building the clusters from the strongest links down and
    refusing, for good, any merge that would pass the size (single linkage
    with a size cap).

    Parameters
    ----------
    n : int
        Number of records (nodes 0 .. n-1).
    i, j : array of int
        The pairs' row numbers.
    probability : array of float
        The pairs' match probabilities; NaN counts as no link.
    threshold : float
        Links below it are not used.
    max_cluster_size : int or None, default 50
        The largest cluster kept whole; None means no limit (plain
        connected components).

    Returns
    -------
    numpy.ndarray of int64
        Shape (n,): each record's label, the smallest row number of its
        cluster. The same input gives the same labels whatever the order of
        the pairs.

    Raises
    ------
    ValueError
        Arrays of different lengths or a row number outside [0, n).

    Examples
    --------
    >>> import vornkit
    >>> vornkit.cluster_pairs(5, [0, 1, 3], [1, 2, 4], [0.99, 0.7, 0.4], 0.5)
    array([0, 0, 0, 3, 4])
    >>> vornkit.cluster_pairs(4, [0, 1, 2], [1, 2, 3], [0.99, 0.98, 0.97], 0.5, max_cluster_size=2)
    array([0, 0, 2, 3])
    """
    first = np.asarray(i, dtype=np.int64).reshape(-1)
    second = np.asarray(j, dtype=np.int64).reshape(-1)
    weight = np.asarray(probability, dtype=np.float64).reshape(-1)
    if not (first.shape == second.shape == weight.shape):
        raise ValueError("i, j and probability must have the same length")
    if max_cluster_size is not None and max_cluster_size < 1:
        raise ValueError("max_cluster_size must be at least 1")
    if n < 0:
        raise ValueError("n must not be negative")
    if len(first) and (min(first.min(), second.min()) < 0 or max(first.max(), second.max()) >= n):
        raise IndexError(f"a pair names a record outside 0 .. {n - 1}")
    kept = weight >= threshold  # NaN compares false
    first, second, weight = first[kept], second[kept], weight[kept]
    labels = vornkit.connected_components(first, second, n)
    if max_cluster_size is None or len(first) == 0:
        return labels
    sizes = np.bincount(labels, minlength=n)
    oversized = sizes[labels] > max_cluster_size
    if not oversized.any():
        return labels
    inside = oversized[first]  # both ends share a component
    _split(labels, first[inside], second[inside], weight[inside], max_cluster_size)
    return labels


def _split(
    labels: Int64Array, first: Int64Array, second: Int64Array, weight: npt.NDArray[np.float64], limit: int
) -> None:
    """Relabels the records of oversized components by size-capped single
    linkage over their links, in place."""
    nodes = np.unique(np.concatenate([first, second]))
    a = np.searchsorted(nodes, first)
    b = np.searchsorted(nodes, second)
    order = np.argsort(-weight, kind="stable")  # links of one level are taken together
    a, b, weight = a[order], b[order], weight[order]
    parent = list(range(len(nodes)))
    size = [1] * len(nodes)
    frozen = [False] * len(nodes)

    def find(x: int) -> int:
        while parent[x] != x:
            parent[x] = parent[parent[x]]
            x = parent[x]
        return x

    level_starts = np.flatnonzero(np.r_[True, weight[1:] != weight[:-1]])
    level_ends = np.r_[level_starts[1:], len(weight)]
    for start, end in zip(level_starts.tolist(), level_ends.tolist()):
        # The sets this level would make, over the current roots.
        level_parent: dict[int, int] = {}
        for x, y in zip(a[start:end].tolist(), b[start:end].tolist()):
            rx, ry = _find_in(level_parent, find(x)), _find_in(level_parent, find(y))
            if rx != ry:
                level_parent[max(rx, ry)] = min(rx, ry)
        members: dict[int, list[int]] = {}
        for root in list(level_parent):
            members.setdefault(_find_in(level_parent, root), []).append(root)
        for group in members.values():
            if len(group) < 2:
                continue
            if any(frozen[r] for r in group) or sum(size[r] for r in group) > limit:
                for r in group:
                    frozen[r] = True
                continue
            head = min(group)
            for r in group:
                parent[r] = head
            size[head] = sum(size[r] for r in group)
    roots = np.fromiter((find(x) for x in range(len(nodes))), dtype=np.int64, count=len(nodes))
    # Each cluster's label: its smallest record (nodes are sorted, so the
    # smallest local index).
    smallest = np.full(len(nodes), len(nodes), dtype=np.int64)
    np.minimum.at(smallest, roots, np.arange(len(nodes)))
    labels[nodes] = nodes[smallest[roots]]


def _find_in(parent: dict[int, int], x: int) -> int:
    """Union-find root of x in a dict forest (x joins as its own root)."""
    parent.setdefault(x, x)
    while parent[x] != x:
        parent[x] = parent[parent[x]]
        x = parent[x]
    return x
