"""Batch fingerprints of texts and the arithmetic of MinHash LSH.

Signatures and fingerprints are exactly ``vorn.minhash_signature`` and
``vorn.simhash_fingerprint``; an estimated similarity is exactly what
``vorn`` computes from them (equal positions / num_hashes, 1 - bits / 64).
Long operations release the interpreter lock and stop on Ctrl-C.
"""

from __future__ import annotations

from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

from vornkit import _checks, _native
from vornkit._checks import Float64Array, UInt64Array
from vornkit._collections import Texts
from vornkit._progress import Advance

# Texts per call of the native batch functions when progress is shown, so
# that the bar moves; large enough that the threads stay busy.
_CHUNK = 16384


def fingerprint_rows(
    strings: _native.Strings,
    simhash: bool,
    shingle_size: int,
    num_hashes: int,
    workers: int,
    advance: Advance | None = None,
) -> UInt64Array:
    """Signatures (n, num_hashes) or fingerprints (n,), in chunks when a
    progress bar shows them."""
    n = len(strings)
    out = np.empty(n if simhash else (n, num_hashes), dtype=np.uint64)
    step = n if advance is None else _CHUNK
    # At least one call, so that the sizes are checked even for no texts.
    for begin in range(0, max(n, 1), max(step, 1)):
        end = min(n, begin + step)
        _native.fingerprint_rows(simhash, strings, begin, end, shingle_size, num_hashes, workers, out[begin:end])
        if advance is not None:
            advance(end - begin)
    return out


def minhash_signatures(
    texts: Texts,
    shingle_size: int = _native.MINHASH_SHINGLE_SIZE,
    num_hashes: int = _native.MINHASH_NUM_HASHES,
    *,
    workers: int = 1,
) -> UInt64Array:
    """MinHash signatures of many texts.

    Row i equals ``vorn.minhash_signature(texts[i], shingle_size, num_hashes)``.
    The default sizes (3, 128) are those of ``vorn.minhash_similarity_default``.

    Parameters
    ----------
    texts : collection of str
        Lists, NumPy, pandas or Arrow string collections; nulls are refused.
    shingle_size : int, default 3
        Characters per shingle.
    num_hashes : int, default 128
        Hash functions, the signature's length.
    workers : int, default 1
        Threads to use; -1 for every core.

    Returns
    -------
    numpy.ndarray of uint64
        Shape (len(texts), num_hashes).

    Raises
    ------
    ValueError
        A shingle size of 0.

    Examples
    --------
    >>> import vorn, vornkit
    >>> signatures = vornkit.minhash_signatures(["the quick brown fox", "the quick brown fix"], 3, 4)
    >>> signatures.shape, signatures.dtype
    ((2, 4), dtype('uint64'))
    >>> signatures[0].tolist() == vorn.minhash_signature("the quick brown fox", 3, 4)
    True
    """
    num_hashes = _checks.count("num_hashes", num_hashes, 0)
    return fingerprint_rows(_checks.strings(texts, "texts"), False, shingle_size, num_hashes, workers, None)


def simhash_fingerprints(
    texts: Texts, shingle_size: int = _native.SIMHASH_SHINGLE_SIZE, *, workers: int = 1
) -> UInt64Array:
    """SimHash fingerprints of many texts.

    Element i equals ``vorn.simhash_fingerprint(texts[i], shingle_size)``; by
    default (4) that of ``vorn.simhash_fingerprint_default``.

    Parameters
    ----------
    texts : collection of str
        Lists, NumPy, pandas or Arrow string collections; nulls are refused.
    shingle_size : int, default 4
        Characters per shingle.
    workers : int, default 1
        Threads to use; -1 for every core.

    Returns
    -------
    numpy.ndarray of uint64
        Shape (len(texts),).

    Examples
    --------
    >>> import vornkit
    >>> [hex(f) for f in vornkit.simhash_fingerprints(["the quick brown fox"])]
    ['0x696e10f6600e9d18']
    """
    return fingerprint_rows(_checks.strings(texts, "texts"), True, shingle_size, 1, workers, None)


def lsh_params(threshold: float, num_hashes: int, weights: Sequence[float] = (0.5, 0.5)) -> tuple[int, int]:
    """The LSH shape (bands, rows) chosen for a threshold.

    Of the shapes with bands * rows <= num_hashes, the one that minimises::

        w_fp * integral_0^t P(s) ds + w_fn * integral_t^1 (1 - P(s)) ds,
        P(s) = 1 - (1 - s**rows)**bands,

    the weighted probabilities of a false candidate below the threshold t and
    of a missed pair above it (Simpson's rule, 512 intervals; ties keep the
    smallest bands, then the smallest rows).

    Parameters
    ----------
    threshold : float
        The Jaccard similarity t in [0, 1].
    num_hashes : int
        The signature's length.
    weights : (float, float), default (0.5, 0.5)
        The weights (w_fp, w_fn) of false candidates and missed pairs.

    Returns
    -------
    (int, int)
        bands and rows.

    Examples
    --------
    >>> import vornkit
    >>> vornkit.lsh_params(0.8, 128)
    (9, 13)
    >>> vornkit.lsh_params(0.7, 128)
    (14, 9)
    """
    fp_weight, fn_weight = _checks.lsh_weights(weights)
    bands, rows = _native.lsh_params(float(threshold), _checks.count("num_hashes", num_hashes), fp_weight, fn_weight)
    return int(bands), int(rows)


def lsh_band_keys(signatures: npt.ArrayLike, bands: int, rows: int) -> UInt64Array:
    """The band keys of MinHash signatures.

    Element (i, k) is a 64-bit hash of values ``k*rows .. k*rows + rows - 1`` of
    row i. These are the keys ``MinHashLSH`` and ``dedup`` group by: equal values
    give equal keys, so a pipeline that groups elsewhere (a Spark job, a database)
    finds the same candidates.

    Parameters
    ----------
    signatures : array_like of uint64
        Shape (n, num_hashes).
    bands, rows : int
        The LSH shape, as ``lsh_params`` chooses it; bands * rows <= num_hashes.

    Returns
    -------
    numpy.ndarray of uint64
        Shape (n, bands).

    Raises
    ------
    ValueError
        Signatures that are not 2-dimensional, or a shape that does not fit them.

    Examples
    --------
    >>> import vornkit
    >>> signatures = vornkit.minhash_signatures(["the quick brown fox", "the quick brown fox!"])
    >>> keys = vornkit.lsh_band_keys(signatures, 9, 13)
    >>> keys.shape
    (2, 9)
    >>> int((keys[0] == keys[1]).sum())      # bands the two texts share
    2
    """
    matrix = np.asarray(signatures)
    if matrix.ndim != 2:
        raise ValueError(f"signatures must be 2-dimensional, not {matrix.ndim}-dimensional")
    sig = _checks.uint64_rows(matrix, "signatures", matrix.shape[1])
    bands, rows = _checks.count("bands", bands), _checks.count("rows", rows)
    out = np.empty((sig.shape[0], bands), dtype=np.uint64)
    _native.lsh_band_keys(sig, sig.shape[1], bands, rows, out)
    return out


def signature_agreement(a: npt.ArrayLike, b: npt.ArrayLike) -> Float64Array:
    """Row-wise fraction of equal positions of two signature arrays.

    Each value is exactly what vorn's MinHash similarity gives for the two
    signatures (NaN when num_hashes is 0). A 1-D signature is one row and
    broadcasts against the other.

    Parameters
    ----------
    a, b : array_like of uint64
        Signatures, shape (n, num_hashes) or (num_hashes,).

    Returns
    -------
    numpy.ndarray of float64
        Shape (n,).

    Raises
    ------
    ValueError
        Arrays that do not broadcast, or of more than 2 dimensions.

    Examples
    --------
    >>> import vornkit
    >>> signatures = vornkit.minhash_signatures(["the quick brown fox", "the quick brown fix"])
    >>> vornkit.signature_agreement(signatures[0], signatures)
    array([1.       , 0.7734375])
    """
    left, right = np.broadcast_arrays(np.atleast_2d(np.asarray(a)), np.atleast_2d(np.asarray(b)))
    if left.ndim != 2:
        raise ValueError("signatures must be 1- or 2-dimensional")
    width = left.shape[1]
    left, right = _checks.uint64_rows(left, "a", width), _checks.uint64_rows(right, "b", width)
    out = np.empty(left.shape[0], dtype=np.float64)
    _native.signature_agreement(left, right, width, out)
    return out
