"""Tables in and out of the command line: CSV/TSV, JSON Lines and Parquet.

CSV and JSON Lines use the standard library; Parquet needs pyarrow (the
``parquet`` extra). Every problem with a file the user named is a
``TableError`` carrying one line for the user; output files are written to a
temporary file beside the target and renamed into place only when complete.
"""

from __future__ import annotations

import csv
import datetime
import decimal
import errno
import io
import json
import os
import re
import secrets
import stat
import sys
from collections.abc import Iterator, Mapping, Sequence
from contextlib import contextmanager
from dataclasses import dataclass, field
from pathlib import Path
from typing import IO, Any

CSV_SUFFIXES = {".csv": ",", ".tsv": "\t"}
JSONL_SUFFIXES = (".jsonl", ".ndjson")
PARQUET_SUFFIXES = (".parquet", ".pq")
TABLE_SUFFIXES = (*CSV_SUFFIXES, *JSONL_SUFFIXES, *PARQUET_SUFFIXES)
# The largest value csv.field_size_limit takes (a C long).
_LARGEST_FIELD = min(sys.maxsize, 2**63 - 1)
# A JSON escape of a surrogate: only lines with one can hold a lone surrogate.
_SURROGATE_ESCAPE = re.compile(r"\\u[dD][89a-fA-F]")


class TableError(Exception):
    """A problem with the user's input or output files, told in one line."""


@dataclass
class Table:
    """Columns of equal length, in file order; a value is a str or None (missing)."""

    path: str
    columns: dict[str, list[str | None]]
    # Columns that cannot be read as text, with the reason: only using one fails.
    refused: dict[str, str] = field(default_factory=dict)

    @property
    def names(self) -> list[str]:
        return list(self.columns)

    def __len__(self) -> int:
        return len(next(iter(self.columns.values()), []))

    def column(self, name: str) -> list[str | None]:
        if name in self.refused:
            raise TableError(self.refused[name])
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
    if isinstance(value, (datetime.date, datetime.time)):  # datetime.datetime too
        return value.isoformat()
    if isinstance(value, (decimal.Decimal, datetime.timedelta)):
        return str(value)
    if isinstance(value, (bytes, bytearray, memoryview)):
        return bytes(value).decode("utf-8")  # UnicodeDecodeError: the column is refused when used
    return json.dumps(value, ensure_ascii=False, default=str)


def _is_text(value: str) -> bool:
    """Whether a str is Unicode text: no lone surrogate (which JSON's \\ud800
    escapes and undecodable command-line bytes produce)."""
    try:
        value.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


def refuse_non_text(value: str, what: str) -> None:
    """A TableError when ``value`` holds a lone surrogate, which no UTF-8 file
    or vorn function can take."""
    if not _is_text(value):
        raise TableError(f"{what}: {ascii(value)} holds a lone surrogate, which is not Unicode text")


def read_table(path: str) -> Table:
    """Reads a whole table; values that are not strings become their text."""
    fmt = require_table_format(path)
    try:
        if fmt == "parquet":
            return _read_parquet(path)
        with open(path, encoding="utf-8-sig", newline="") as file:
            return _read_csv(path, file) if fmt == "csv" else _read_jsonl(path, file)
    except UnicodeDecodeError:
        raise TableError(f"{path}: not UTF-8 text (byte {_first_undecodable_byte(path)})") from None
    except OSError as error:
        raise TableError(f"cannot read {path}: {error.strerror or error}") from None


def _first_undecodable_byte(path: str) -> int | str:
    """The offset in the file of its first byte that is not UTF-8 (the
    decoder's own error counts from the start of its chunk)."""
    try:
        with open(path, "rb") as file:
            data = file.read()
        data.decode("utf-8")
    except UnicodeDecodeError as error:
        return error.start
    except OSError:
        pass
    return "unknown"


def _read_csv(path: str, file: IO[str]) -> Table:
    # Fields have no size limit here, as in JSON Lines (the csv module's own
    # default refuses fields over 128 KiB).
    if csv.field_size_limit() < _LARGEST_FIELD:
        csv.field_size_limit(_LARGEST_FIELD)
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
        if _SURROGATE_ESCAPE.search(line):
            for key, value in record.items():
                refuse_non_text(key, f"{path} line {number}: the key")
                if isinstance(value, str):
                    refuse_non_text(value, f"{path} line {number}: {key!r}")
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
        _check_header(path, pq.read_schema(path).names)
        data = pq.read_table(path)
    except (pa.ArrowException, OSError) as error:
        raise TableError(f"cannot read {path} as Parquet: {_first_line(error)}") from None
    columns: dict[str, list[str | None]] = {}
    refused: dict[str, str] = {}
    for name, column in zip(data.column_names, data.columns):
        if pa.types.is_string(column.type) or pa.types.is_large_string(column.type):
            columns[name] = column.to_pylist()
            continue
        try:
            columns[name] = [_as_text(value) for value in column.to_pylist()]
        except (ValueError, OverflowError) as error:  # binary that is not UTF-8, dates out of range
            columns[name] = [None] * len(column)
            refused[name] = f"{path}: column {name!r} ({column.type}) cannot be read as text: {_first_line(error)}"
    return Table(path, columns, refused)


def _first_line(error: BaseException) -> str:
    lines = str(error).strip().splitlines()
    return lines[0] if lines else type(error).__name__


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


def check_output(path: str | None, inputs: Sequence[str] = ()) -> None:
    """Fails early, before any work, on an output the run could not write or
    that is one of its ``inputs``."""
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
    for source in inputs:
        try:
            same = os.path.samefile(path, source)
        except OSError:  # either does not exist (yet)
            same = False
        if same:
            raise TableError(f"cannot write {path}: it is the input {source}; name another output file")


@contextmanager
def _replaced_atomically(path: str, mode: str) -> Iterator[IO[Any]]:
    """A temporary file beside ``path`` that becomes ``path`` only on success.

    A symbolic link is written through (its target is replaced); an existing
    file keeps its permission bits, a new one gets those the umask allows.
    """
    target = Path(os.path.realpath(path))
    try:
        permissions: int | None = stat.S_IMODE(os.stat(target).st_mode)
    except FileNotFoundError:
        permissions = None  # the kernel applies the umask (and any default ACL) to the new file
    except OSError as error:
        raise TableError(f"cannot write {path}: {error.strerror or error}") from None
    try:
        handle, temporary = _create_beside(target, 0o600 if permissions is not None else 0o666)
    except OSError as error:
        raise TableError(f"cannot write {path}: {error.strerror or error}") from None
    try:
        with os.fdopen(handle, mode) if "b" in mode else os.fdopen(handle, mode, encoding="utf-8", newline="") as file:
            yield file
            if permissions is not None:
                os.fchmod(file.fileno(), permissions)
        os.replace(temporary, target)
    except BaseException as error:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        if isinstance(error, OSError):
            raise TableError(f"cannot write {path}: {error.strerror or error}") from None
        if isinstance(error, UnicodeEncodeError):
            raise TableError(
                f"cannot write {path}: {ascii(error.object[error.start : error.end])} is not Unicode text"
            ) from None
        raise


def _create_beside(target: Path, mode: int) -> tuple[int, str]:
    """A new file of a free name beside ``target``, created with ``mode`` less the umask.

    Unlike reading the umask with ``os.umask``, which clears it for a moment in every
    thread of the process, this leaves the process's umask alone."""
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0)
    for _ in range(100):
        temporary = str(target.parent / f".{target.name}.{secrets.token_hex(6)}.tmp")
        try:
            return os.open(temporary, flags, mode), temporary
        except FileExistsError:
            continue
    raise FileExistsError(errno.EEXIST, "no free temporary name", str(target.parent))


def write_table(path: str | None, columns: Mapping[str, Sequence[Any]]) -> None:
    """Writes columns to ``path`` in the format its extension names, or CSV to stdout."""
    if path is None:
        _write_stdout(columns)
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


def _write_stdout(columns: Mapping[str, Sequence[Any]]) -> None:
    stdout = sys.stdout
    if stdout is None:  # started with stdout closed
        raise TableError("cannot write the results: stdout is closed (use --out FILE)")
    try:
        _write_text(stdout, "csv", ",", columns)
        stdout.flush()
    except BrokenPipeError:
        raise
    except (OSError, ValueError) as error:  # a full disk; a closed or unencodable stream
        _drop_stdout()
        reason = error.strerror if isinstance(error, OSError) and error.strerror else error
        raise TableError(f"cannot write the results to stdout: {reason}") from None


def _drop_stdout() -> None:
    """Points stdout at the null device, so that the interpreter's last flush
    of what could not be written neither fails nor prints a second error."""
    try:
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, sys.stdout.fileno())
        os.close(null)
    except (OSError, ValueError, AttributeError):
        pass


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
