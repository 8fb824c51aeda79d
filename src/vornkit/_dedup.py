"""Clusters of near-duplicate texts: fingerprints, candidate links and
connected components in one call."""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any, Literal

import numpy as np

from vornkit import _checks, _native
from vornkit._checks import Int64Array
from vornkit._collections import Texts
from vornkit._fingerprints import fingerprint_rows, lsh_band_keys, lsh_params
from vornkit._progress import Progress


def dedup(
    texts: Texts,
    *,
    method: Literal["minhash", "simhash"] = "minhash",
    threshold: float | None = None,
    shingle_size: int | None = None,
    num_hashes: int = _native.MINHASH_NUM_HASHES,
    workers: int = 1,
    progress: bool = False,
) -> Int64Array:
    """Clusters of near-duplicate texts, each labelled by its smallest index.

    Two texts are linked when they are candidates and their estimated
    similarity reaches ``threshold``:

    * ``method="minhash"`` (threshold 0.8, shingle_size 3 by default):
      candidates share a band of the ``lsh_params(threshold, num_hashes)``
      shape; the similarity is the signature agreement.
    * ``method="simhash"`` (threshold 0.95, shingle_size 4 by default):
      every pair is a candidate; the similarity is 1 - distance / 64.

    Clusters are the connected components of the links, so the labels are
    the same on every run and with any number of ``workers``.

    Parameters
    ----------
    texts : collection of str
        Lists, NumPy, pandas or Arrow string collections; nulls are refused.
    method : {"minhash", "simhash"}, default "minhash"
        How texts are fingerprinted and compared.
    threshold : float, optional
        The estimated similarity that links two texts, in [0, 1].
    shingle_size : int, optional
        Characters per shingle.
    num_hashes : int, default 128
        MinHash signature length.
    workers : int, default 1
        Threads to use; -1 for every core. Ctrl-C stops the work.
    progress : bool, default False
        Show a progress bar on stderr (tqdm's when installed).

    Returns
    -------
    numpy.ndarray of int64
        Shape (len(texts),): each text's label, the smallest index of its cluster.

    Raises
    ------
    ValueError
        An unknown method or a threshold outside [0, 1].

    Examples
    --------
    >>> import vornkit
    >>> texts = ["The quick brown fox jumps over the lazy dog.",
    ...          "The quick brown fox jumped over the lazy dog.",
    ...          "A completely different sentence about cats.",
    ...          "The quick brown fox jumps over the lazy dog!"]
    >>> vornkit.dedup(texts, threshold=0.7)
    array([0, 0, 2, 0])
    >>> vornkit.dedup(texts, method="simhash", threshold=0.9)
    array([0, 1, 2, 0])
    """
    if method == "minhash":
        threshold = 0.8 if threshold is None else float(threshold)
        shingle_size = _native.MINHASH_SHINGLE_SIZE if shingle_size is None else shingle_size
    elif method == "simhash":
        threshold = 0.95 if threshold is None else float(threshold)
        shingle_size = _native.SIMHASH_SHINGLE_SIZE if shingle_size is None else shingle_size
    else:
        raise ValueError(f"method must be 'minhash' or 'simhash', not {method!r}")
    threshold = _checks.probability("threshold", threshold)
    strings = _checks.strings(texts, "texts")
    n = len(strings)
    bars = Progress(progress)
    parent = np.arange(n, dtype=np.int64)
    if method == "minhash":
        num_hashes = _checks.count("num_hashes", num_hashes)
        bands, rows = lsh_params(threshold, num_hashes)
        with bars.bar(n, "signatures", "texts") as advance:
            signatures = fingerprint_rows(strings, False, shingle_size, num_hashes, workers, advance)
        keys = lsh_band_keys(signatures, bands, rows)
        with bars.bar(bands, "bands", "bands") as advance:
            # Texts with equal signatures are linked first; the bands then
            # compare one text of each.
            _native.link_identical(signatures, num_hashes, parent)
            active = (parent == np.arange(n)).view(np.uint8)
            for band in range(bands):
                _native.link_band(keys, bands, band, active, signatures, num_hashes, threshold, parent)
                advance(1)
    else:
        with bars.bar(n, "fingerprints", "texts") as advance:
            fingerprints = fingerprint_rows(strings, True, shingle_size, 1, workers, advance)
        _native.link_simhash(fingerprints, threshold, parent)
    labels = np.empty(n, dtype=np.int64)
    _native.component_labels(parent, labels)
    return labels


def dedup_with_missing(texts: Sequence[str | None], **options: Any) -> Int64Array:
    """dedup's labels over texts some of which are missing (None): a missing
    text is never linked, its cluster is itself."""
    present = np.array([i for i, text in enumerate(texts) if text is not None], dtype=np.int64)
    labels = np.arange(len(texts), dtype=np.int64)
    if len(present) == 0:
        return labels
    found = dedup([texts[i] for i in present.tolist()], **options)
    # Positions among the present texts back to rows (in the same order, so
    # the smallest member stays the smallest).
    labels[present] = present[np.asarray(found, dtype=np.int64)]
    return labels
