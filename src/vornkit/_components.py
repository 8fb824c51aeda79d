"""Connected components of a graph of pairs."""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

from vornkit import _checks, _native
from vornkit._checks import Int64Array


def connected_components(i: npt.ArrayLike, j: npt.ArrayLike, n: int) -> Int64Array:
    """Connected components of the graph on nodes 0..n-1 with edges (i[k], j[k]).

    Parameters
    ----------
    i, j : array_like of int
        The two ends of each edge, of equal length, each in [0, n).
    n : int
        The number of nodes.

    Returns
    -------
    numpy.ndarray of int64
        Shape (n,): each node's label, the smallest node of its component.

    Raises
    ------
    ValueError
        ``i`` and ``j`` of different lengths, or a node outside [0, n).

    Examples
    --------
    >>> import vornkit
    >>> vornkit.connected_components([0, 3], [1, 4], 5)
    array([0, 0, 2, 3, 3])
    """
    first, second = _checks.int64_keys(i, "i"), _checks.int64_keys(j, "j")
    if first.shape != second.shape:
        raise ValueError("i and j must have the same length")
    labels = np.empty(_checks.count("n", n, 0), dtype=np.int64)
    _native.connected_components(first, second, labels)
    return labels
