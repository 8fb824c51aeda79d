"""Tables of records in, as columns of ``str | None``.

A table may be a mapping of column name -> sequence, a pandas or polars
DataFrame, or a pyarrow Table. Values that are not strings become their text
(integers as digits, floats by ``repr``); None, NaN and empty strings are
missing. Nothing here imports pandas, polars or pyarrow: a table is recognised
by the methods it has.
"""

from __future__ import annotations

import gc
import math
from collections.abc import Iterator, Mapping, Sequence
from contextlib import contextmanager
from dataclasses import dataclass
from typing import Any

import numpy as np
import vorn

from vornkit import _native

Columns = dict[str, list[str | None]]


@contextmanager
def collector_paused() -> Iterator[None]:
    """Python's cyclic garbage collector off within the block, back on after if it was on.

    Reading and linking a table builds lists of millions of values that live to the end: each
    collection would walk them again and again (a tenth of a 100,000-record linkage) to free
    almost nothing, as the linkage makes no reference cycles."""
    enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if enabled:
            gc.enable()


class RecordsError(ValueError):
    """A table the linkage cannot read: a missing column, ragged columns, an unknown kind of table."""


def _text(value: object) -> str | None:
    if value is None:
        return None
    if isinstance(value, str):
        return value or None
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float):
        return None if math.isnan(value) else repr(value)
    if isinstance(value, int):
        return str(value)
    try:  # NumPy scalars and pandas' missing markers
        if value != value:
            return None
    except (TypeError, ValueError):
        pass
    item = getattr(value, "item", None)
    return _text(item()) if callable(item) else str(value)


def _column_names(table: object) -> list[str]:
    if isinstance(table, Mapping):
        return [str(name) for name in table]
    names = getattr(table, "column_names", None)  # pyarrow
    if names is None:
        names = getattr(table, "columns", None)  # pandas, polars
    if names is None:
        raise RecordsError(
            f"cannot read a {type(table).__name__} as a table: give a mapping of column name -> values, "
            "a pandas or polars DataFrame or a pyarrow Table"
        )
    return [str(name) for name in names]


def _raw_column(table: object, name: str) -> Sequence[Any]:
    if isinstance(table, Mapping):
        return list(table[name])
    column = table[name]  # type: ignore[index]
    to_pylist = getattr(column, "to_pylist", None)  # pyarrow ChunkedArray
    if callable(to_pylist):
        return list(to_pylist())
    to_list = getattr(column, "to_list", None)  # pandas Series, polars Series
    if callable(to_list):
        return list(to_list())
    return list(column)


def _raw_columns(table: object, names: Sequence[str], what: str) -> tuple[dict[str, Sequence[Any]], int]:
    """The named columns as the table holds them, checked, and the row count."""
    known = _column_names(table)
    columns: dict[str, Sequence[Any]] = {}
    length = None
    for name in names:
        if name not in known:
            raise RecordsError(f"{what}: no column {name!r} (columns: {', '.join(known) or 'none'})")
        values = _raw_column(table, name)
        if length is None:
            length = len(values)
        elif len(values) != length:
            raise RecordsError(f"{what}: column {name!r} has {len(values)} values, {names[0]!r} has {length}")
        columns[name] = values
    if length is None:  # no column asked for: the row count of the first column
        length = len(_raw_column(table, known[0])) if known else 0
    return columns, length


def _as_texts(values: Sequence[Any]) -> list[str | None]:
    return [value if type(value) is str and value else _text(value) for value in values]


def read_columns(table: object, names: Sequence[str], what: str = "table") -> tuple[Columns, int]:
    """The named columns as lists of ``str | None`` (empty strings and NaN: None), and the row count."""
    raw, length = _raw_columns(table, names, what)
    return {name: _as_texts(values) for name, values in raw.items()}, length


def read_coded_columns(
    table: object, names: Sequence[str], processor: vorn.Preprocessor | None, what: str = "table"
) -> tuple[dict[str, CodedValues], int]:
    """``preprocess_coded`` of each column ``read_columns`` reads (the same values and codes of the
    same values), made without a pass of Python over the records when a column holds only str and
    None: the native coding of its texts takes the place of both passes."""
    raw, length = _raw_columns(table, names, what)
    coded = {}
    for name, values in raw.items():
        codes = np.empty(len(values), dtype=np.int64)
        distinct = _native.code_texts(values, codes)
        if distinct is None:
            coded[name] = preprocess_coded(_as_texts(values), processor)
        else:  # "" is a value here, which preprocessing makes missing as read_columns would
            coded[name] = _coded(codes, distinct, processor)
    return coded, length


def read_ids(table: object, name: str | None, length: int, what: str = "table") -> list[str]:
    """The id column's values as text, or the row numbers when ``name`` is None."""
    if name is None:
        return [str(row) for row in range(length)]
    column = read_columns(table, [name], what)[0][name]
    if len(column) != length:
        raise RecordsError(f"{what}: the id column {name!r} has {len(column)} values for {length} rows")
    return ["" if value is None else value for value in column]


def preprocess(values: Sequence[str | None], processor: vorn.Preprocessor | None) -> list[str | None]:
    """Each distinct value preprocessed once; a value that becomes empty is missing."""
    if processor is None:
        return [value or None for value in values]
    cache: dict[str | None, str | None] = {None: None}
    for value in set(values):
        if value is not None and value not in cache:
            cache[value] = processor.process(value) or None
    return [cache[value] for value in values]


@dataclass
class CodedValues:
    """A column preprocessed through its distinct values: ``values`` per record (as
    ``preprocess`` gives them), ``codes`` per record into ``distinct``, the preprocessed value of
    each distinct raw value, in order of first appearance."""

    values: list[str | None]
    codes: np.ndarray
    distinct: list[str | None]


def preprocess_coded(values: Sequence[str | None], processor: vorn.Preprocessor | None) -> CodedValues:
    """``preprocess`` of the values, with the codes that let the linkage encode them without a
    second pass over the records."""
    index = {value: code for code, value in enumerate(dict.fromkeys(values))}
    codes = np.fromiter(map(index.__getitem__, values), dtype=np.int64, count=len(values))
    return _coded(codes, list(index), processor)


def _coded(codes: np.ndarray, raw: list[str | None], processor: vorn.Preprocessor | None) -> CodedValues:
    """The CodedValues of records coded into their distinct raw values."""
    if processor is None:
        distinct = [value or None for value in raw]
    else:
        distinct = [None if value is None else processor.process(value) or None for value in raw]
    table = np.empty(len(distinct), dtype=object)
    table[:] = distinct
    return CodedValues(table[codes].tolist(), codes, distinct)
