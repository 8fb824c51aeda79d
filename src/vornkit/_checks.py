"""Argument checks shared by vornkit's public functions.

Each returns the converted value or raises the error the public function
documents: TypeError for a wrong kind of value, ValueError for a value out
of range, OverflowError for keys beyond int64.
"""

from __future__ import annotations

import operator
from collections.abc import Sequence
from typing import Any, TypeAlias

import numpy as np
import numpy.typing as npt

from vornkit import _native
from vornkit._prepared_texts import PreparedTexts

Int64Array: TypeAlias = npt.NDArray[np.int64]
UInt64Array: TypeAlias = npt.NDArray[np.uint64]
Float64Array: TypeAlias = npt.NDArray[np.float64]


def count(name: str, value: int, minimum: int = 1) -> int:
    """An integer (anything with __index__) of at least ``minimum``."""
    value = operator.index(value)
    if value < minimum:
        raise ValueError(f"{name} must be at least {minimum}, not {value}")
    return value


def probability(name: str, value: float) -> float:
    """A float in [0, 1]; NaN is refused."""
    value = float(value)
    if not 0.0 <= value <= 1.0:
        raise ValueError(f"{name} must be in [0, 1], not {value}")
    return value


def strings(texts: object, name: str) -> _native.Strings:
    """A collection of texts as the extension reads it (read once, kept as is);
    prepared texts give their texts as prepared (their processor applied)."""
    if isinstance(texts, PreparedTexts):
        return texts._strings
    return texts if isinstance(texts, _native.Strings) else _native.Strings(texts, name)


def lsh_weights(weights: Sequence[float]) -> tuple[float, float]:
    """The (false-positive, false-negative) weights of an LSH shape."""
    if len(weights) != 2:
        raise ValueError("weights must be (false-positive weight, false-negative weight)")
    return float(weights[0]), float(weights[1])


def _integer_array(values: npt.ArrayLike, name: str, empty_type: type[np.integer[Any]]) -> npt.NDArray[Any]:
    array = np.asarray(values)
    if array.dtype.kind not in "iu":
        if array.size:
            raise TypeError(f"{name} must hold integers, not {array.dtype}")
        array = array.astype(empty_type)
    return array


def uint64_rows(values: npt.ArrayLike, name: str, width: int | None) -> UInt64Array:
    """values as a C-contiguous uint64 array of shape (n, width) (width None: (n,))."""
    array = _integer_array(values, name, np.uint64)
    if array.dtype.kind == "i" and array.size and array.min() < 0:
        raise ValueError(f"{name} must not be negative")
    expected = 1 if width is None else 2
    if array.ndim != expected:
        raise ValueError(f"{name} must be {expected}-dimensional, not {array.ndim}-dimensional")
    if width is not None and array.shape[1] != width:
        raise ValueError(f"{name} must have {width} columns, not {array.shape[1]}")
    return np.ascontiguousarray(array, dtype=np.uint64)


def int64_keys(keys: npt.ArrayLike, name: str = "keys") -> Int64Array:
    """keys as a C-contiguous 1-D int64 array."""
    array = _integer_array(keys, name, np.int64)
    if array.dtype == np.uint64 and array.size and array.max() > np.iinfo(np.int64).max:
        raise OverflowError(f"{name} must fit in int64")
    if array.ndim != 1:
        raise ValueError(f"{name} must be 1-dimensional, not {array.ndim}-dimensional")
    return np.ascontiguousarray(array, dtype=np.int64)
