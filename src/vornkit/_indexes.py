"""Indexes of fingerprints: MinHash LSH and an exact SimHash index.

Keys are int64; arrays go in and come out as NumPy arrays. Both indexes are
saved to files and read back into memory (docs/concepts/indexes.md has the format).
"""

from __future__ import annotations

import os
from collections.abc import Sequence
from typing import Any, Self, TypeAlias

import numpy as np
import numpy.typing as npt

from vornkit import _checks, _native
from vornkit._checks import Int64Array, UInt64Array
from vornkit._fingerprints import lsh_params

PathLike: TypeAlias = str | os.PathLike[str]


class _KeyedIndex:
    """What both indexes share: documents by int64 key in a native index, saved to a file."""

    _native_type: Any  # the vornkit._native class, with its load()
    _index: Any

    def __len__(self) -> int:
        return len(self._index)

    def __contains__(self, key: object) -> bool:
        return isinstance(key, (int, np.integer)) and bool(self._index.contains(int(key)))

    def remove(self, keys: npt.ArrayLike) -> None:
        """Removes documents.

        Parameters
        ----------
        keys : array_like of int64
            The keys to remove.

        Raises
        ------
        KeyError
            A key that is not indexed; nothing is removed.

        Examples
        --------
        >>> import vornkit
        >>> texts = ["the quick brown fox", "the quick brown fox!", "a different text"]
        >>> signatures = vornkit.minhash_signatures(texts)
        >>> lsh = vornkit.MinHashLSH(threshold=0.7)
        >>> lsh.add([10, 11, 12], signatures)
        >>> lsh.remove([11])
        >>> lsh.keys()
        array([10, 12])
        """
        self._index.remove(_checks.int64_keys(np.atleast_1d(np.asarray(keys))))

    def save(self, path: PathLike) -> None:
        """Writes the index to a file, replaced atomically.

        The file is checksummed; the format is described on the documentation's
        page on indexes.

        Parameters
        ----------
        path : str or os.PathLike
            The file to write; a new temporary file beside it is renamed into place.

        Examples
        --------
        >>> import vornkit
        >>> texts = ["the quick brown fox jumps", "the quick brown fox jumps!", "a different text"]
        >>> fingerprints = vornkit.simhash_fingerprints(texts)
        >>> index = vornkit.SimHashIndex(max_distance=6)
        >>> index.add([10, 11, 12], fingerprints)
        >>> index.save("simhash.index")
        >>> vornkit.SimHashIndex.load("simhash.index")
        SimHashIndex(max_distance=6, size=3)
        """
        self._index.save(path)

    @classmethod
    def load(cls, path: PathLike) -> Self:
        """Reads a file written by ``save()`` into memory.

        Later changes to the file do not reach the index.

        Parameters
        ----------
        path : str or os.PathLike
            The file to read.

        Returns
        -------
        MinHashLSH or SimHashIndex
            The index as it was saved, of the class ``load`` is called on.

        Raises
        ------
        ValueError
            A truncated, corrupted or foreign file, naming the path.

        Examples
        --------
        >>> import vornkit
        >>> texts = ["the quick brown fox", "the quick brown fox!", "a different text"]
        >>> signatures = vornkit.minhash_signatures(texts)
        >>> lsh = vornkit.MinHashLSH(threshold=0.7)
        >>> lsh.add([10, 11, 12], signatures)
        >>> lsh.save("lsh.index")
        >>> vornkit.MinHashLSH.load("lsh.index").pairs()
        (array([10]), array([11]))
        """
        index = cls.__new__(cls)
        index._index = cls._native_type.load(path)
        return index


class MinHashLSH(_KeyedIndex):
    """Locality-sensitive hashing of MinHash signatures.

    Each signature is cut into ``bands`` bands of ``rows`` values; documents
    whose signatures agree on every value of at least one band are
    candidates. Two documents of Jaccard similarity s become candidates with
    probability ``1 - (1 - s**rows)**bands``.

    Band keys sit in flat sorted arrays of (64-bit key, 32-bit slot): an
    indexed document costs 12 bytes per band plus 21 bytes (its key, its
    lookup entry and a flag): 129 bytes with the default 9 bands, about 160
    resident with the slack of growing arrays. Candidates
    are not verified; compare signatures with ``signature_agreement``.

    Parameters
    ----------
    threshold : float, default 0.8
        The Jaccard similarity the shape is chosen for.
    num_hashes : int, default 128
        The length of the signatures it takes.
    weights : (float, float), default (0.5, 0.5)
        The weights of false candidates and missed pairs in ``lsh_params``.
    bands : int or (int, int), optional
        The shape: a count (rows = num_hashes // bands) or a (bands, rows) pair.
        By default ``lsh_params(threshold, num_hashes, weights)``: the shape
        minimising the weighted false-positive integral over [0, threshold] plus
        the weighted false-negative integral over [threshold, 1].

    Raises
    ------
    ValueError
        A shape that does not fit ``num_hashes`` or weights that are not two
        non-negative numbers.

    Examples
    --------
    >>> import vornkit
    >>> texts = ["the quick brown fox", "the quick brown fox!", "a different text"]
    >>> signatures = vornkit.minhash_signatures(texts)
    >>> lsh = vornkit.MinHashLSH(threshold=0.7)
    >>> lsh.add([10, 11, 12], signatures)
    >>> lsh
    MinHashLSH(threshold=0.7, num_hashes=128, bands=14, rows=9, size=3)
    >>> lsh.query(signatures[0])
    array([10, 11])
    >>> 11 in lsh, len(lsh)
    (True, 3)
    """

    _native_type = _native.MinHashIndex

    def __init__(
        self,
        threshold: float = 0.8,
        num_hashes: int = _native.MINHASH_NUM_HASHES,
        *,
        weights: Sequence[float] = (0.5, 0.5),
        bands: int | tuple[int, int] | None = None,
    ) -> None:
        fp_weight, fn_weight = _checks.lsh_weights(weights)
        num_hashes = _checks.count("num_hashes", num_hashes)
        if bands is None:
            band_count, rows = lsh_params(threshold, num_hashes, (fp_weight, fn_weight))
        elif isinstance(bands, tuple):
            if len(bands) != 2:
                raise ValueError(f"bands must be a count or a (bands, rows) pair, not {bands!r}")
            band_count, rows = _checks.count("bands", bands[0]), _checks.count("rows", bands[1])
        else:
            band_count = _checks.count("bands", bands)
            rows = num_hashes // band_count
        self._index = self._native_type(float(threshold), num_hashes, band_count, rows, fp_weight, fn_weight)

    @property
    def threshold(self) -> float:
        """The Jaccard similarity the index was made for."""
        return float(self._index.settings()[0])

    @property
    def num_hashes(self) -> int:
        """The length of the signatures the index takes."""
        return int(self._index.settings()[1])

    @property
    def bands(self) -> int:
        """The number of bands each signature is cut into."""
        return int(self._index.settings()[2])

    @property
    def rows(self) -> int:
        """The number of values in each band."""
        return int(self._index.settings()[3])

    @property
    def weights(self) -> tuple[float, float]:
        """The weights of false candidates and missed pairs the shape was chosen with."""
        settings = self._index.settings()
        return float(settings[4]), float(settings[5])

    def __repr__(self) -> str:
        return (
            f"MinHashLSH(threshold={self.threshold!r}, num_hashes={self.num_hashes}, bands={self.bands}, "
            f"rows={self.rows}, size={len(self)})"
        )

    def keys(self) -> Int64Array:
        """The indexed keys, in the order they were added.

        Returns
        -------
        numpy.ndarray of int64
            One key per indexed document.

        Examples
        --------
        >>> import vornkit
        >>> texts = ["the quick brown fox", "the quick brown fox!", "a different text"]
        >>> signatures = vornkit.minhash_signatures(texts)
        >>> lsh = vornkit.MinHashLSH(threshold=0.7)
        >>> lsh.add([10, 11, 12], signatures)
        >>> lsh.keys()
        array([10, 11, 12])
        """
        return np.frombuffer(self._index.keys(), dtype=np.int64)

    def _signatures(self, signatures: npt.ArrayLike) -> UInt64Array:
        return _checks.uint64_rows(np.atleast_2d(np.asarray(signatures)), "signatures", self.num_hashes)

    def add(self, keys: npt.ArrayLike, signatures: npt.ArrayLike) -> None:
        """Adds documents.

        Parameters
        ----------
        keys : array_like of int64
            Shape (n,), or one key.
        signatures : array_like of uint64
            Shape (n, num_hashes), or one 1-D signature.

        Raises
        ------
        ValueError
            A key already present or repeated, or signatures of another length;
            nothing is added.

        Examples
        --------
        >>> import vornkit
        >>> texts = ["the quick brown fox", "the quick brown fox!", "a different text"]
        >>> signatures = vornkit.minhash_signatures(texts)
        >>> lsh = vornkit.MinHashLSH(threshold=0.7)
        >>> lsh.add([10, 11, 12], signatures)
        >>> lsh.add(13, signatures[0])
        >>> lsh.query(signatures[0])
        array([10, 11, 13])
        """
        key_array = _checks.int64_keys(np.atleast_1d(np.asarray(keys)))
        rows = self._signatures(signatures)
        if rows.shape[0] != key_array.shape[0]:
            raise ValueError(f"{key_array.shape[0]} keys but {rows.shape[0]} signatures")
        self._index.add(key_array, rows)

    def query(self, signature: npt.ArrayLike) -> Int64Array:
        """Keys of the candidates of one signature.

        Parameters
        ----------
        signature : array_like of uint64
            One signature of ``num_hashes`` values.

        Returns
        -------
        numpy.ndarray of int64
            The keys of the documents sharing a band with it, ascending.

        Raises
        ------
        ValueError
            More than one signature (use ``query_many``).

        Examples
        --------
        >>> import vornkit
        >>> texts = ["the quick brown fox", "the quick brown fox!", "a different text"]
        >>> signatures = vornkit.minhash_signatures(texts)
        >>> lsh = vornkit.MinHashLSH(threshold=0.7)
        >>> lsh.add([10, 11, 12], signatures)
        >>> lsh.query(signatures[2])
        array([12])
        """
        row = self._signatures(signature)
        if row.shape[0] != 1:
            raise ValueError("query takes one signature; use query_many for several")
        return np.frombuffer(self._index.query_many(row)[1], dtype=np.int64)

    def query_many(self, signatures: npt.ArrayLike) -> tuple[Int64Array, Int64Array]:
        """Candidates of many signatures.

        Parameters
        ----------
        signatures : array_like of uint64
            Shape (n, num_hashes).

        Returns
        -------
        query_index, key : numpy.ndarray of int64
            One element per candidate, sorted by query, then key.

        Examples
        --------
        >>> import vornkit
        >>> texts = ["the quick brown fox", "the quick brown fox!", "a different text"]
        >>> signatures = vornkit.minhash_signatures(texts)
        >>> lsh = vornkit.MinHashLSH(threshold=0.7)
        >>> lsh.add([10, 11, 12], signatures)
        >>> lsh.query_many(signatures[1:])
        (array([0, 0, 1]), array([10, 11, 12]))
        """
        query_index, keys = self._index.query_many(self._signatures(signatures))
        return np.frombuffer(query_index, dtype=np.int64), np.frombuffer(keys, dtype=np.int64)

    def pairs(self) -> tuple[Int64Array, Int64Array]:
        """Every pair of indexed keys that share a band, once.

        Returns
        -------
        i, j : numpy.ndarray of int64
            The pairs with i < j, sorted by i, then j.

        Examples
        --------
        >>> import vornkit
        >>> texts = ["the quick brown fox", "the quick brown fox!", "a different text"]
        >>> signatures = vornkit.minhash_signatures(texts)
        >>> lsh = vornkit.MinHashLSH(threshold=0.7)
        >>> lsh.add([10, 11, 12], signatures)
        >>> lsh.pairs()
        (array([10]), array([11]))
        """
        first, second = self._index.candidate_pairs()
        return np.frombuffer(first, dtype=np.int64), np.frombuffer(second, dtype=np.int64)


class SimHashIndex(_KeyedIndex):
    """An exact index of 64-bit SimHash fingerprints within ``max_distance``
    differing bits.

    The fingerprint is cut into max_distance + 1 blocks; two fingerprints
    within max_distance bits agree on a whole block (pigeonhole), so one
    sorted table per block finds every match, and each is reported once.
    Each indexed document costs 12 bytes per block plus 29 bytes.

    Parameters
    ----------
    max_distance : int, default 3
        The most differing bits two matching fingerprints may have.

    Examples
    --------
    >>> import vornkit
    >>> texts = ["the quick brown fox jumps", "the quick brown fox jumps!", "a different text"]
    >>> fingerprints = vornkit.simhash_fingerprints(texts)
    >>> index = vornkit.SimHashIndex(max_distance=6)
    >>> index.add([10, 11, 12], fingerprints)
    >>> index
    SimHashIndex(max_distance=6, size=3)
    >>> index.query(fingerprints[0])
    array([10, 11])
    """

    _native_type = _native.SimHashIndex

    def __init__(self, max_distance: int = 3) -> None:
        self._index = self._native_type(_checks.count("max_distance", max_distance, 0))

    @property
    def max_distance(self) -> int:
        """The most differing bits of two fingerprints that match."""
        return int(self._index.max_distance())

    def __repr__(self) -> str:
        return f"SimHashIndex(max_distance={self.max_distance}, size={len(self)})"

    def add(self, keys: npt.ArrayLike, fingerprints: npt.ArrayLike) -> None:
        """Adds documents.

        Parameters
        ----------
        keys : array_like of int64
            Shape (n,), or one key.
        fingerprints : array_like of uint64
            Shape (n,), or one fingerprint.

        Raises
        ------
        ValueError
            A key already present or repeated, or counts that differ; nothing is added.

        Examples
        --------
        >>> import vornkit
        >>> texts = ["the quick brown fox jumps", "the quick brown fox jumps!", "a different text"]
        >>> fingerprints = vornkit.simhash_fingerprints(texts)
        >>> index = vornkit.SimHashIndex(max_distance=6)
        >>> index.add([10, 11, 12], fingerprints)
        >>> index.add(13, fingerprints[0])
        >>> index.query(fingerprints[0])
        array([10, 11, 13])
        """
        key_array = _checks.int64_keys(np.atleast_1d(np.asarray(keys)))
        values = _checks.uint64_rows(np.atleast_1d(np.asarray(fingerprints)), "fingerprints", None)
        if values.shape != key_array.shape:
            raise ValueError(f"{key_array.shape[0]} keys but {values.shape[0]} fingerprints")
        self._index.add(key_array, values)

    def query(self, fingerprint: int | np.integer[Any]) -> Int64Array:
        """Keys of the documents within ``max_distance`` bits of a fingerprint.

        Parameters
        ----------
        fingerprint : int
            A 64-bit fingerprint.

        Returns
        -------
        numpy.ndarray of int64
            The keys, ascending.

        Examples
        --------
        >>> import vornkit
        >>> texts = ["the quick brown fox jumps", "the quick brown fox jumps!", "a different text"]
        >>> fingerprints = vornkit.simhash_fingerprints(texts)
        >>> index = vornkit.SimHashIndex(max_distance=6)
        >>> index.add([10, 11, 12], fingerprints)
        >>> index.query(fingerprints[2])
        array([12])
        """
        return self.query_many(np.array([fingerprint], dtype=np.uint64))[1]

    def query_many(self, fingerprints: npt.ArrayLike) -> tuple[Int64Array, Int64Array, Int64Array]:
        """Matches of many fingerprints.

        Parameters
        ----------
        fingerprints : array_like of uint64
            Shape (n,).

        Returns
        -------
        query_index, key, distance : numpy.ndarray of int64
            One element per match, sorted by query, then key.

        Examples
        --------
        >>> import vornkit
        >>> texts = ["the quick brown fox jumps", "the quick brown fox jumps!", "a different text"]
        >>> fingerprints = vornkit.simhash_fingerprints(texts)
        >>> index = vornkit.SimHashIndex(max_distance=6)
        >>> index.add([10, 11, 12], fingerprints)
        >>> index.query_many(fingerprints[:2])
        (array([0, 0, 1, 1]), array([10, 11, 10, 11]), array([0, 6, 6, 0]))
        """
        values = _checks.uint64_rows(np.atleast_1d(np.asarray(fingerprints)), "fingerprints", None)
        query_index, keys, distances = self._index.query_many(values)
        return (
            np.frombuffer(query_index, dtype=np.int64),
            np.frombuffer(keys, dtype=np.int64),
            np.frombuffer(distances, dtype=np.uint8).astype(np.int64),
        )

    def pairs(self) -> tuple[Int64Array, Int64Array, Int64Array]:
        """Every pair of indexed keys within ``max_distance`` bits, once.

        Returns
        -------
        i, j, distance : numpy.ndarray of int64
            The pairs with i < j and their differing bits, sorted by i, then j.

        Examples
        --------
        >>> import vornkit
        >>> texts = ["the quick brown fox jumps", "the quick brown fox jumps!", "a different text"]
        >>> fingerprints = vornkit.simhash_fingerprints(texts)
        >>> index = vornkit.SimHashIndex(max_distance=6)
        >>> index.add([10, 11, 12], fingerprints)
        >>> index.pairs()
        (array([10]), array([11]), array([6]))
        """
        first, second, distances = self._index.pairs()
        return (
            np.frombuffer(first, dtype=np.int64),
            np.frombuffer(second, dtype=np.int64),
            np.frombuffer(distances, dtype=np.uint8).astype(np.int64),
        )
