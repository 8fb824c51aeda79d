"""Tables in and out of the command line: CSV/TSV, JSON Lines and Parquet.

CSV and JSON Lines use the standard library; Parquet needs pyarrow (the
``parquet`` extra). Every problem with a file the user named is a
``TableError`` carrying one line for the user; output files are written to a
temporary file beside the target and renamed into place only when complete.
"""

from __future__ import annotations

import csv
import io
import json
import os
import sys
import tempfile
from collections.abc import Iterator, Mapping, Sequence
from contextlib import contextmanager
from dataclasses import dataclass
from pathlib import Path
from typing import IO, Any

CSV_SUFFIXES = {".csv": ",", ".tsv": "\t"}
JSONL_SUFFIXES = (".jsonl", ".ndjson")
PARQUET_SUFFIXES = (".parquet", ".pq")
TABLE_SUFFIXES = (*CSV_SUFFIXES, *JSONL_SUFFIXES, *PARQUET_SUFFIXES)


class TableError(Exception):
    """A problem with the user's input or output files, told in one line."""


@dataclass
class Table:
    """Columns of equal length, in file order; a value is a str or None (missing)."""

    path: str
    columns: dict[str, list[str | None]]

    @property
    def names(self) -> list[str]:
        return list(self.columns)

    def __len__(self) -> int:
        return len(next(iter(self.columns.values()), []))

    def column(self, name: str) -> list[str | None]:
        try:
            return self.columns[name]
        except KeyError:
            known = ", ".join(self.columns) or "none"
            raise TableError(f"{self.path}: no column {name!r} (columns: {known})") from None


def table_format(path: str) -> str | None:
    """'csv', 'jsonl' or 'parquet' by the file's extension, or None."""
    suffix = Path(path).suffix.lower()
    if suffix in CSV_SUFFIXES:
        return "csv"
    if suffix in JSONL_SUFFIXES:
        return "jsonl"
    if suffix in PARQUET_SUFFIXES:
        return "parquet"
    return None


def require_table_format(path: str) -> str:
    fmt = table_format(path)
    if fmt is None:
        raise TableError(f"{path}: unknown table format (use one of {', '.join(TABLE_SUFFIXES)})")
    return fmt


def _pyarrow() -> Any:
    try:
        import pyarrow as pa  # type: ignore[import-untyped,unused-ignore]
        import pyarrow.parquet as pq  # type: ignore[import-untyped,unused-ignore]
    except ImportError:
        raise TableError("Parquet files need pyarrow: pip install 'vorn[parquet]'") from None
    return pa, pq


def _as_text(value: object) -> str | None:
    if value is None or isinstance(value, str):
        return value
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (int, float)):
        return repr(value) if isinstance(value, float) else str(value)
    return json.dumps(value, ensure_ascii=False)


def read_table(path: str) -> Table:
    """Reads a whole table; values that are not strings become their text."""
    fmt = require_table_format(path)
    try:
        if fmt == "parquet":
            return _read_parquet(path)
        with open(path, encoding="utf-8-sig", newline="") as file:
            return _read_csv(path, file) if fmt == "csv" else _read_jsonl(path, file)
    except UnicodeDecodeError as error:
        raise TableError(f"{path}: not UTF-8 text (byte {error.start})") from None
    except OSError as error:
        raise TableError(f"cannot read {path}: {error.strerror or error}") from None


def _read_csv(path: str, file: IO[str]) -> Table:
    # Spaces after a delimiter are ignored, as in many exported files ("a, b").
    reader = csv.reader(file, delimiter=CSV_SUFFIXES[Path(path).suffix.lower()], skipinitialspace=True)
    try:
        header = [name.strip() for name in next(reader)]
    except StopIteration:
        raise TableError(f"{path}: empty file, expected a header line") from None
    except csv.Error as error:
        raise TableError(f"{path} line {reader.line_num}: {error}") from None
    _check_header(path, header)
    columns: list[list[str | None]] = [[] for _ in header]
    try:
        for row in reader:
            if len(row) != len(header):
                if not row:
                    continue
                raise TableError(f"{path} line {reader.line_num}: {len(row)} fields, the header has {len(header)}")
            for values, value in zip(columns, row):
                values.append(value)
    except csv.Error as error:
        raise TableError(f"{path} line {reader.line_num}: {error}") from None
    return Table(path, dict(zip(header, columns)))


def _read_jsonl(path: str, file: IO[str]) -> Table:
    columns: dict[str, list[str | None]] = {}
    count = 0
    for number, line in enumerate(file, 1):
        if not line.strip():
            continue
        try:
            record = json.loads(line)
        except json.JSONDecodeError as error:
            raise TableError(f"{path} line {number}: not JSON ({error.msg})") from None
        if not isinstance(record, dict):
            raise TableError(f"{path} line {number}: expected a JSON object")
        for key in record:
            if key not in columns:
                columns[key] = [None] * count  # a key first seen late: missing before
        for key, values in columns.items():
            values.append(_as_text(record.get(key)))
        count += 1
    return Table(path, columns)


def _read_parquet(path: str) -> Table:
    pa, pq = _pyarrow()
    try:
        data = pq.read_table(path)
    except (pa.ArrowException, OSError) as error:
        raise TableError(f"cannot read {path} as Parquet: {error}") from None
    columns = {}
    for name, column in zip(data.column_names, data.columns):
        if not pa.types.is_string(column.type) and not pa.types.is_large_string(column.type):
            columns[name] = [_as_text(value) for value in column.to_pylist()]
        else:
            columns[name] = column.to_pylist()
    return Table(path, columns)


def _check_header(path: str, header: Sequence[str]) -> None:
    seen = set()
    for name in header:
        if name in seen:
            raise TableError(f"{path}: column {name!r} appears twice in the header")
        seen.add(name)


def read_lines(path: str) -> list[str]:
    """One entry per line of a text file, without the line ends."""
    try:
        with open(path, encoding="utf-8-sig", newline=None) as file:
            return file.read().splitlines()
    except UnicodeDecodeError as error:
        raise TableError(f"{path}: not UTF-8 text (byte {error.start})") from None
    except OSError as error:
        raise TableError(f"cannot read {path}: {error.strerror or error}") from None


def check_output(path: str | None) -> None:
    """Fails early, before any work, on an output the run could not write."""
    if path is None:
        return
    fmt = require_table_format(path)
    if fmt == "parquet":
        _pyarrow()
    directory = Path(path).parent
    if not directory.is_dir():
        raise TableError(f"cannot write {path}: no directory {str(directory)!r}")
    if Path(path).is_dir():
        raise TableError(f"cannot write {path}: it is a directory")


@contextmanager
def _replaced_atomically(path: str, mode: str) -> Iterator[IO[Any]]:
    """A temporary file beside ``path`` that becomes ``path`` only on success."""
    target = Path(path)
    try:
        handle, temporary = tempfile.mkstemp(dir=target.parent, prefix=f".{target.name}.", suffix=".tmp")
    except OSError as error:
        raise TableError(f"cannot write {path}: {error.strerror or error}") from None
    try:
        with os.fdopen(handle, mode) if "b" in mode else os.fdopen(handle, mode, encoding="utf-8", newline="") as file:
            yield file
        os.chmod(temporary, 0o666 & ~_umask())
        os.replace(temporary, target)
    except BaseException as error:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        if isinstance(error, OSError):
            raise TableError(f"cannot write {path}: {error.strerror or error}") from None
        raise


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask


def write_table(path: str | None, columns: Mapping[str, Sequence[Any]]) -> None:
    """Writes columns to ``path`` in the format its extension names, or CSV to stdout."""
    if path is None:
        _write_text(sys.stdout, "csv", ",", columns)
        sys.stdout.flush()
        return
    fmt = require_table_format(path)
    if fmt == "parquet":
        pa, pq = _pyarrow()
        table = pa.table({name: list(values) for name, values in columns.items()})
        with _replaced_atomically(path, "wb") as file:
            pq.write_table(table, file)
        return
    with _replaced_atomically(path, "w") as file:
        _write_text(file, fmt, CSV_SUFFIXES.get(Path(path).suffix.lower(), ","), columns)


def _write_text(file: IO[str], fmt: str, delimiter: str, columns: Mapping[str, Sequence[Any]]) -> None:
    names = list(columns)
    rows = zip(*columns.values())
    if fmt == "jsonl":
        for row in rows:
            file.write(json.dumps(dict(zip(names, row)), ensure_ascii=False) + "\n")
        return
    writer = csv.writer(file, delimiter=delimiter, lineterminator="\n")
    writer.writerow(names)
    writer.writerows(rows)


def format_table(columns: Mapping[str, Sequence[Any]]) -> str:
    """Columns as CSV text (for messages and tests)."""
    buffer = io.StringIO()
    _write_text(buffer, "csv", ",", columns)
    return buffer.getvalue()
