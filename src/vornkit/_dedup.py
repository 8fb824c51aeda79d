"""Near-duplicate detection: batch fingerprints, MinHash LSH, a SimHash index,
connected components and ``dedup``.

Signatures and fingerprints are exactly ``vorn.minhash_signature`` and
``vorn.simhash_fingerprint``; an estimated similarity is exactly what
``vorn`` computes from them (equal positions / num_hashes, 1 - bits / 64).
Keys are int64; arrays go in and come out as NumPy arrays. Long operations
release the interpreter lock and stop on Ctrl-C.
"""

from __future__ import annotations

import importlib
import operator
import os
import sys
from collections.abc import Sequence
from types import TracebackType
from typing import Any, Literal, TypeAlias

import numpy as np
import numpy.typing as npt

from vornkit import _native as _native_module
from vornkit._collections import Texts

# The extension's functions take checked, converted arguments; the typed
# surface is this module's.
_native: Any = _native_module

Int64Array: TypeAlias = npt.NDArray[np.int64]
UInt64Array: TypeAlias = npt.NDArray[np.uint64]
Float64Array: TypeAlias = npt.NDArray[np.float64]
PathLike: TypeAlias = str | os.PathLike[str]

# Texts per call of the native batch functions inside dedup(), so that the
# progress bar moves; large enough that the threads stay busy.
_CHUNK = 16384


def _count(name: str, value: int, minimum: int = 1) -> int:
    value = operator.index(value)
    if value < minimum:
        raise ValueError(f"{name} must be at least {minimum}, not {value}")
    return value


def _strings(texts: Texts) -> Any:
    return texts if isinstance(texts, _native.Strings) else _native.Strings(texts, "texts")


def _uint64_rows(values: npt.ArrayLike, name: str, width: int | None) -> UInt64Array:
    """values as a C-contiguous uint64 array of shape (n, width) (width None: (n,))."""
    array = np.asarray(values)
    if array.dtype.kind not in "iu":
        if array.size == 0:
            array = array.astype(np.uint64)
        else:
            raise TypeError(f"{name} must hold integers, not {array.dtype}")
    if array.dtype.kind == "i" and array.size and array.min() < 0:
        raise ValueError(f"{name} must not be negative")
    expected = 1 if width is None else 2
    if array.ndim != expected:
        raise ValueError(f"{name} must be {expected}-dimensional, not {array.ndim}-dimensional")
    if width is not None and array.shape[1] != width:
        raise ValueError(f"{name} must have {width} columns, not {array.shape[1]}")
    return np.ascontiguousarray(array, dtype=np.uint64)


def _int64_keys(keys: npt.ArrayLike, name: str = "keys") -> Int64Array:
    array = np.asarray(keys)
    if array.dtype.kind not in "iu":
        if array.size == 0:
            array = array.astype(np.int64)
        else:
            raise TypeError(f"{name} must hold integers, not {array.dtype}")
    if array.dtype == np.uint64 and array.size and array.max() > np.iinfo(np.int64).max:
        raise OverflowError(f"{name} must fit in int64")
    if array.ndim != 1:
        raise ValueError(f"{name} must be 1-dimensional, not {array.ndim}-dimensional")
    return np.ascontiguousarray(array, dtype=np.int64)


class _Progress:
    """A progress bar on stderr: tqdm when it is installed, else a plain line."""

    def __init__(self, enabled: bool, total: int, description: str) -> None:
        self._bar: Any = None
        self._plain = False
        self._done = 0
        self._total = total
        self._description = description
        if not enabled:
            return
        try:
            tqdm = importlib.import_module("tqdm.auto").tqdm
        except ImportError:
            self._plain = True
            self._show()
        else:
            self._bar = tqdm(total=total, desc=description, file=sys.stderr)

    def _show(self) -> None:
        percent = 100 * self._done // self._total if self._total else 100
        sys.stderr.write(f"\r{self._description}: {percent:3d}% ({self._done}/{self._total})")
        sys.stderr.flush()

    def update(self, count: int) -> None:
        self._done += count
        if self._bar is not None:
            self._bar.update(count)
        elif self._plain:
            self._show()

    def __enter__(self) -> _Progress:
        return self

    def __exit__(
        self, kind: type[BaseException] | None, error: BaseException | None, trace: TracebackType | None
    ) -> None:
        if self._bar is not None:
            self._bar.close()
        elif self._plain:
            sys.stderr.write("\n")


def _fingerprint_rows(
    strings: Any, simhash: bool, shingle_size: int, num_hashes: int, workers: int, progress: _Progress | None
) -> UInt64Array:
    """Signatures (n, num_hashes) or fingerprints (n,), in chunks when a
    progress bar shows them."""
    n = len(strings)
    out = np.empty(n if simhash else (n, num_hashes), dtype=np.uint64)
    step = n if progress is None else _CHUNK
    # At least one call, so that the sizes are checked even for no texts.
    for begin in range(0, max(n, 1), max(step, 1)):
        end = min(n, begin + step)
        _native.fingerprint_rows(simhash, strings, begin, end, shingle_size, num_hashes, workers, out[begin:end])
        if progress is not None:
            progress.update(end - begin)
    return out


def minhash_signatures(texts: Texts, shingle_size: int = 3, num_hashes: int = 128, *, workers: int = 1) -> UInt64Array:
    """MinHash signatures of many texts: a uint64 array (n, num_hashes) whose
    row i equals ``vorn.minhash_signature(texts[i], shingle_size, num_hashes)``.

    ``texts`` is any collection vornkit reads (lists, NumPy, pandas, Arrow);
    nulls are refused. ``workers``: threads, -1 for every core.
    """
    num_hashes = _count("num_hashes", num_hashes, 0)
    return _fingerprint_rows(_strings(texts), False, shingle_size, num_hashes, workers, None)


def simhash_fingerprints(texts: Texts, shingle_size: int = 4, *, workers: int = 1) -> UInt64Array:
    """SimHash fingerprints of many texts: a uint64 array (n,) whose element i
    equals ``vorn.simhash_fingerprint(texts[i], shingle_size)``."""
    return _fingerprint_rows(_strings(texts), True, shingle_size, 1, workers, None)


def _weights(weights: Sequence[float]) -> tuple[float, float]:
    if len(weights) != 2:
        raise ValueError("weights must be (false-positive weight, false-negative weight)")
    return float(weights[0]), float(weights[1])


def lsh_params(threshold: float, num_hashes: int, weights: Sequence[float] = (0.5, 0.5)) -> tuple[int, int]:
    """The (bands, rows) with bands * rows <= num_hashes that minimise

        w_fp * integral_0^t P(s) ds + w_fn * integral_t^1 (1 - P(s)) ds,
        P(s) = 1 - (1 - s**rows)**bands,

    the weighted probabilities of a false candidate below the threshold t and
    of a missed pair above it (Simpson's rule, 512 intervals; ties keep the
    smallest bands, then the smallest rows)."""
    fp_weight, fn_weight = _weights(weights)
    bands, rows = _native.lsh_params(float(threshold), _count("num_hashes", num_hashes), fp_weight, fn_weight)
    return int(bands), int(rows)


def lsh_band_keys(signatures: npt.ArrayLike, bands: int, rows: int) -> UInt64Array:
    """The band keys of signatures (n, num_hashes): uint64 (n, bands), element
    (i, k) a 64-bit hash of values k*rows .. k*rows + rows - 1 of row i. These
    are the keys MinHashLSH and dedup group by: equal values give equal keys."""
    matrix = np.asarray(signatures)
    if matrix.ndim != 2:
        raise ValueError(f"signatures must be 2-dimensional, not {matrix.ndim}-dimensional")
    sig = _uint64_rows(matrix, "signatures", matrix.shape[1])
    bands, rows = _count("bands", bands), _count("rows", rows)
    out = np.empty((sig.shape[0], bands), dtype=np.uint64)
    _native.lsh_band_keys(sig, sig.shape[1], bands, rows, out)
    return out


def signature_agreement(a: npt.ArrayLike, b: npt.ArrayLike) -> Float64Array:
    """Row-wise fraction of equal positions of two signature arrays
    (n, num_hashes), float64 (n,), each exactly what vorn's MinHash similarity
    gives for the two signatures (NaN when num_hashes is 0). A 1-D signature
    is one row and broadcasts against the other."""
    left, right = np.broadcast_arrays(np.atleast_2d(np.asarray(a)), np.atleast_2d(np.asarray(b)))
    if left.ndim != 2:
        raise ValueError("signatures must be 1- or 2-dimensional")
    width = left.shape[1]
    left, right = _uint64_rows(left, "a", width), _uint64_rows(right, "b", width)
    out = np.empty(left.shape[0], dtype=np.float64)
    _native.signature_agreement(left, right, width, out)
    return out


def connected_components(i: npt.ArrayLike, j: npt.ArrayLike, n: int) -> Int64Array:
    """Labels of the graph on nodes 0..n-1 with edges (i[k], j[k]): int64 (n,),
    each node's label the smallest node of its component (union-find)."""
    first, second = _int64_keys(i, "i"), _int64_keys(j, "j")
    if first.shape != second.shape:
        raise ValueError("i and j must have the same length")
    labels = np.empty(_count("n", n, 0), dtype=np.int64)
    _native.connected_components(first, second, labels)
    return labels


class MinHashLSH:
    """Locality-sensitive hashing of MinHash signatures.

    Each signature is cut into ``bands`` bands of ``rows`` values; documents
    whose signatures agree on every value of at least one band are
    candidates. Two documents of Jaccard similarity s become candidates with
    probability ``1 - (1 - s**rows)**bands``. Unless given, (bands, rows) is
    ``lsh_params(threshold, num_hashes, weights)``: the shape minimising the
    weighted false-positive integral over [0, threshold] plus the weighted
    false-negative integral over [threshold, 1]. ``bands`` may also be given
    as a count (rows = num_hashes // bands) or a (bands, rows) pair.

    Band keys sit in flat sorted arrays of (64-bit key, 32-bit slot): an
    indexed document costs 12 bytes per band plus 21 bytes (its key, its
    lookup entry and a flag): 129 bytes with the default 9 bands, about 160
    resident with the slack of growing arrays. Candidates
    are not verified; compare signatures with ``signature_agreement``.
    """

    def __init__(
        self,
        threshold: float = 0.8,
        num_hashes: int = 128,
        *,
        weights: Sequence[float] = (0.5, 0.5),
        bands: int | tuple[int, int] | None = None,
    ) -> None:
        fp_weight, fn_weight = _weights(weights)
        num_hashes = _count("num_hashes", num_hashes)
        if bands is None:
            band_count, rows = lsh_params(threshold, num_hashes, (fp_weight, fn_weight))
        elif isinstance(bands, tuple):
            if len(bands) != 2:
                raise ValueError(f"bands must be a count or a (bands, rows) pair, not {bands!r}")
            band_count, rows = _count("bands", bands[0]), _count("rows", bands[1])
        else:
            band_count = _count("bands", bands)
            rows = num_hashes // band_count
        self._index: Any = _native.MinHashIndex(float(threshold), num_hashes, band_count, rows, fp_weight, fn_weight)

    @property
    def threshold(self) -> float:
        return float(self._index.settings()[0])

    @property
    def num_hashes(self) -> int:
        return int(self._index.settings()[1])

    @property
    def bands(self) -> int:
        return int(self._index.settings()[2])

    @property
    def rows(self) -> int:
        return int(self._index.settings()[3])

    @property
    def weights(self) -> tuple[float, float]:
        settings = self._index.settings()
        return float(settings[4]), float(settings[5])

    def __repr__(self) -> str:
        return (
            f"MinHashLSH(threshold={self.threshold!r}, num_hashes={self.num_hashes}, bands={self.bands}, "
            f"rows={self.rows}, size={len(self)})"
        )

    def __len__(self) -> int:
        return len(self._index)

    def __contains__(self, key: object) -> bool:
        return isinstance(key, (int, np.integer)) and bool(self._index.contains(int(key)))

    def keys(self) -> Int64Array:
        """The indexed keys, in the order they were added."""
        return np.frombuffer(self._index.keys(), dtype=np.int64)

    def _signatures(self, signatures: npt.ArrayLike) -> UInt64Array:
        return _uint64_rows(np.atleast_2d(np.asarray(signatures)), "signatures", self.num_hashes)

    def add(self, keys: npt.ArrayLike, signatures: npt.ArrayLike) -> None:
        """Adds documents: keys int64 (n,), signatures (n, num_hashes) (one key
        and one 1-D signature also work). A key already present or repeated
        raises ValueError and nothing is added."""
        key_array = _int64_keys(np.atleast_1d(np.asarray(keys)))
        rows = self._signatures(signatures)
        if rows.shape[0] != key_array.shape[0]:
            raise ValueError(f"{key_array.shape[0]} keys but {rows.shape[0]} signatures")
        self._index.add(key_array, rows)

    def remove(self, keys: npt.ArrayLike) -> None:
        """Removes documents; a missing key raises KeyError and nothing is removed."""
        self._index.remove(_int64_keys(np.atleast_1d(np.asarray(keys))))

    def query(self, signature: npt.ArrayLike) -> Int64Array:
        """Keys of the candidates of one signature, ascending."""
        row = self._signatures(signature)
        if row.shape[0] != 1:
            raise ValueError("query takes one signature; use query_many for several")
        return np.frombuffer(self._index.query_many(row)[1], dtype=np.int64)

    def query_many(self, signatures: npt.ArrayLike) -> tuple[Int64Array, Int64Array]:
        """Candidates of many signatures as two int64 arrays (query_index, key),
        sorted by query, then key."""
        query_index, keys = self._index.query_many(self._signatures(signatures))
        return np.frombuffer(query_index, dtype=np.int64), np.frombuffer(keys, dtype=np.int64)

    def candidate_pairs(self) -> tuple[Int64Array, Int64Array]:
        """Every pair of indexed keys that share a band, once: (i, j) with
        i < j, sorted by i, then j."""
        first, second = self._index.candidate_pairs()
        return np.frombuffer(first, dtype=np.int64), np.frombuffer(second, dtype=np.int64)

    def save(self, path: PathLike) -> None:
        """Writes the index to a file (replaced atomically); see the README for
        the format."""
        self._index.save(path)

    @classmethod
    def load(cls, path: PathLike) -> MinHashLSH:
        """Reads a file written by save() into memory (later changes to the file
        do not reach the index); a truncated, corrupted or foreign file raises
        ValueError."""
        lsh = cls.__new__(cls)
        lsh._index = _native.MinHashIndex.load(path)
        return lsh


class SimHashIndex:
    """An exact index of 64-bit SimHash fingerprints within ``max_distance``
    differing bits.

    The fingerprint is cut into max_distance + 1 blocks; two fingerprints
    within max_distance bits agree on a whole block (pigeonhole), so one
    sorted table per block finds every match, and each is reported once.
    Each indexed document costs 12 bytes per block plus 29 bytes.
    """

    def __init__(self, max_distance: int = 3) -> None:
        self._index: Any = _native.SimHashIndex(_count("max_distance", max_distance, 0))

    @property
    def max_distance(self) -> int:
        return int(self._index.max_distance())

    def __repr__(self) -> str:
        return f"SimHashIndex(max_distance={self.max_distance}, size={len(self)})"

    def __len__(self) -> int:
        return len(self._index)

    def __contains__(self, key: object) -> bool:
        return isinstance(key, (int, np.integer)) and bool(self._index.contains(int(key)))

    def add(self, keys: npt.ArrayLike, fingerprints: npt.ArrayLike) -> None:
        """Adds documents: keys int64 (n,), fingerprints uint64 (n,). A key
        already present or repeated raises ValueError and nothing is added."""
        key_array = _int64_keys(np.atleast_1d(np.asarray(keys)))
        values = _uint64_rows(np.atleast_1d(np.asarray(fingerprints)), "fingerprints", None)
        if values.shape != key_array.shape:
            raise ValueError(f"{key_array.shape[0]} keys but {values.shape[0]} fingerprints")
        self._index.add(key_array, values)

    def remove(self, keys: npt.ArrayLike) -> None:
        """Removes documents; a missing key raises KeyError and nothing is removed."""
        self._index.remove(_int64_keys(np.atleast_1d(np.asarray(keys))))

    def query(self, fingerprint: int | np.integer[Any]) -> Int64Array:
        """Keys of the documents within max_distance bits, ascending."""
        return self.query_many(np.array([fingerprint], dtype=np.uint64))[1]

    def query_many(self, fingerprints: npt.ArrayLike) -> tuple[Int64Array, Int64Array, Int64Array]:
        """Matches of many fingerprints as int64 arrays (query_index, key,
        distance), sorted by query, then key."""
        values = _uint64_rows(np.atleast_1d(np.asarray(fingerprints)), "fingerprints", None)
        query_index, keys, distances = self._index.query_many(values)
        return (
            np.frombuffer(query_index, dtype=np.int64),
            np.frombuffer(keys, dtype=np.int64),
            np.frombuffer(distances, dtype=np.uint8).astype(np.int64),
        )

    def pairs(self) -> tuple[Int64Array, Int64Array, Int64Array]:
        """Every pair of indexed keys within max_distance bits, once: int64
        arrays (i, j, distance) with i < j, sorted by i, then j."""
        first, second, distances = self._index.pairs()
        return (
            np.frombuffer(first, dtype=np.int64),
            np.frombuffer(second, dtype=np.int64),
            np.frombuffer(distances, dtype=np.uint8).astype(np.int64),
        )

    def save(self, path: PathLike) -> None:
        """Writes the index to a file (replaced atomically)."""
        self._index.save(path)

    @classmethod
    def load(cls, path: PathLike) -> SimHashIndex:
        """Reads a file written by save() into memory (later changes to the file
        do not reach the index); a truncated, corrupted or foreign file raises
        ValueError."""
        index = cls.__new__(cls)
        index._index = _native.SimHashIndex.load(path)
        return index


def dedup(
    texts: Texts,
    *,
    method: Literal["minhash", "simhash"] = "minhash",
    threshold: float | None = None,
    shingle_size: int | None = None,
    num_hashes: int = 128,
    workers: int = 1,
    progress: bool = False,
) -> Int64Array:
    """Clusters of near-duplicate texts: int64 labels (n,), each text's label
    the smallest index of its cluster.

    Two texts are linked when they are candidates and their estimated
    similarity reaches ``threshold``:

    * ``method="minhash"`` (threshold 0.8, shingle_size 3 by default):
      candidates share a band of the ``lsh_params(threshold, num_hashes)``
      shape; the similarity is the signature agreement.
    * ``method="simhash"`` (threshold 0.95, shingle_size 4 by default):
      every pair is a candidate; the similarity is 1 - distance / 64.

    Clusters are the connected components of the links, so the labels are
    the same on every run and with any number of ``workers``. ``progress``
    shows a bar on stderr (tqdm when installed). Ctrl-C stops the work.
    """
    if method == "minhash":
        threshold = 0.8 if threshold is None else float(threshold)
        shingle_size = 3 if shingle_size is None else shingle_size
    elif method == "simhash":
        threshold = 0.95 if threshold is None else float(threshold)
        shingle_size = 4 if shingle_size is None else shingle_size
    else:
        raise ValueError(f"method must be 'minhash' or 'simhash', not {method!r}")
    if not 0.0 <= threshold <= 1.0:
        raise ValueError(f"threshold must be in [0, 1], not {threshold}")
    strings = _strings(texts)
    n = len(strings)
    parent = np.arange(n, dtype=np.int64)
    if method == "minhash":
        num_hashes = _count("num_hashes", num_hashes)
        bands, rows = lsh_params(threshold, num_hashes)
        with _Progress(progress, n, "signatures") as bar:
            signatures = _fingerprint_rows(strings, False, shingle_size, num_hashes, workers, bar)
        keys = lsh_band_keys(signatures, bands, rows)
        with _Progress(progress, bands, "bands") as bar:
            # Texts with equal signatures are linked first; the bands then
            # compare one text of each.
            _native.link_identical(signatures, num_hashes, parent)
            active = (parent == np.arange(n)).view(np.uint8)
            for band in range(bands):
                _native.link_band(keys, bands, band, active, signatures, num_hashes, threshold, parent)
                bar.update(1)
    else:
        with _Progress(progress, n, "fingerprints") as bar:
            fingerprints = _fingerprint_rows(strings, True, shingle_size, 1, workers, bar)
        _native.link_simhash(fingerprints, threshold, parent)
    labels = np.empty(n, dtype=np.int64)
    _native.component_labels(parent, labels)
    return labels
