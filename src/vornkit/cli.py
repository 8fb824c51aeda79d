"""The ``vornkit`` command line: near-duplicates, record linkage and fuzzy search.

    vornkit dedup PATH... [--method minhash|simhash] [--threshold T] [--out FILE]
    vornkit link LEFT [RIGHT] --on COL[,COL...] [--id COL] [--threshold P] [--out FILE]
    vornkit search QUERY CHOICES-FILE [--scorer NAME] [--limit N] [--score-cutoff S]

Exit status: 0 on success, 2 on bad input (one line on stderr, no output file
left behind), 130 when interrupted.
"""

from __future__ import annotations

import argparse
import fnmatch
import math
import os
import stat
import sys
import time
from collections.abc import Callable, Sequence
from typing import Any, NoReturn

import numpy as np
import vorn

from vornkit import _fellegi_sunter, _linkage, _scorers
from vornkit._blocking import CandidateLimitError
from vornkit._dedup import dedup_with_missing
from vornkit._fellegi_sunter import LinkageModel, link_records
from vornkit._progress import Progress
from vornkit._records import RecordsError, collector_paused
from vornkit._tables import (
    Table,
    TableError,
    check_output,
    read_lines,
    read_table,
    refuse_non_text,
    table_format,
    write_table,
)

EXIT_USAGE = 2
EXIT_INTERRUPTED = 130  # 128 + SIGINT, as shells report it
LARGEST_SHOWN = 5
MEAN_THRESHOLD = 0.7  # --method mean's default threshold on the weighted mean score


class UsageError(Exception):
    """Bad input, told to the user in one line."""


class _Parser(argparse.ArgumentParser):
    """argparse, but a usage error is one line (with a pointer to --help) and exit status 2."""

    def error(self, message: str) -> NoReturn:
        self.exit(EXIT_USAGE, f"{self.prog}: error: {message} (see {self.prog} --help)\n")


# ------------------------------------------------------------ argument types


def _bounded(kind: type[float] | type[int], low: float, high: float, wording: str) -> Callable[[str], Any]:
    """An argument type: a number of ``kind`` in [low, high] (NaN is not)."""

    def parse(text: str) -> float | int:
        try:
            value = kind(text)
        except ValueError:
            raise argparse.ArgumentTypeError(
                f"not {'a whole number' if kind is int else 'a number'}: {text!r}"
            ) from None
        if not low <= value <= high:
            raise argparse.ArgumentTypeError(f"must be {wording}, not {text}")
        return value

    return parse


_threshold = _bounded(float, 0.0, 1.0, "between 0 and 1")
_score_cutoff = _bounded(float, 0.0, sys.float_info.max, "a finite number at least 0")
_positive = _bounded(int, 1, float("inf"), "at least 1")
# Sizes as vornkit takes them: a shingle of up to 2**64 - 1 characters, and
# at most the signature length that LSH bands can be chosen for.
_shingle_size = _bounded(int, 1, 2**64 - 1, "between 1 and 2**64 - 1")
_num_hashes = _bounded(int, 1, 2**16, f"between 1 and {2**16}")


def _workers(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value == 0 or value < -1:
        raise argparse.ArgumentTypeError(f"must be a positive number or -1 (every core), not {text!r}")
    return value


def _names(text: str) -> list[str]:
    names = [name.strip() for name in text.split(",")]
    if not all(names):
        raise argparse.ArgumentTypeError(f"empty name in {text!r}")
    return names


def _scorer_name(text: str) -> str:
    try:
        return _scorers.named(text).name
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def _search_scorer_name(text: str) -> str:
    try:
        return _scorers.named(text, other_forms=True).name
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def _similarity_names(text: str) -> list[str]:
    names = _names(text)
    for name in names:
        if name != _linkage.AUTO and _scorer_name(name) not in _linkage.SCORERS:
            raise argparse.ArgumentTypeError(f"{name!r} is a distance; a weighted mean needs similarities")
    return names


def _weights(text: str) -> list[float] | None:
    if text == _linkage.AUTO:
        return None
    try:
        weights = [float(part) for part in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a list of numbers: {text!r}") from None
    if any(not w >= 0.0 or w == float("inf") for w in weights) or not any(weights):
        raise argparse.ArgumentTypeError(f"weights must be finite, not negative and not all zero: {text!r}")
    return weights


def _note(args: argparse.Namespace, message: str) -> None:
    if not args.quiet:
        print(message, file=sys.stderr)


# ------------------------------------------------------------ dedup


def _documents(args: argparse.Namespace, progress: Progress) -> tuple[list[str], Sequence[str | None]]:
    """(ids, texts): the files under the paths, or one column of one table."""
    if args.column is not None:
        if len(args.paths) != 1:
            raise UsageError("--column reads one table: give exactly one CSV, JSON Lines or Parquet file")
        table = read_table(args.paths[0])
        column = table.column(args.column)
        ids = table.column(args.id) if args.id else [str(row) for row in range(len(column))]
        # A missing text stays null: it is never linked (its own cluster).
        return ["" if i is None else i for i in ids], column
    files: list[str] = []
    for path in args.paths:
        if os.path.isdir(path):
            for directory, subdirectories, names in os.walk(path, onerror=_raise_walk_error):
                subdirectories.sort()
                files.extend(
                    os.path.join(directory, name)
                    for name in sorted(names)
                    if _selected(args, name) and _is_regular_file(os.path.join(directory, name))
                )
        elif os.path.exists(path):
            files.append(path)
        else:
            raise UsageError(f"no such file or directory: {path}")
    texts: list[str] = []
    undecodable = 0
    with progress.bar(len(files), "reading", "files") as advance:
        for path in files:
            try:
                with open(path, "rb") as file:
                    data = file.read()
            except OSError as error:
                raise UsageError(f"cannot read {path}: {error.strerror or error}") from None
            try:
                texts.append(data.decode("utf-8"))
            except UnicodeDecodeError:
                undecodable += 1
                texts.append(data.decode("utf-8", errors="replace"))
            advance(1)
    if undecodable:
        _note(args, f"vornkit dedup: {undecodable} file(s) not UTF-8; undecodable bytes read as U+FFFD")
    return [_path_text(path) for path in files], texts


def _is_regular_file(path: str) -> bool:
    """Whether a directory entry (or what its link points to) is a regular
    file: a FIFO, socket or device would block or never end."""
    try:
        return stat.S_ISREG(os.stat(path).st_mode)
    except OSError:
        return False


def _path_text(path: str) -> str:
    """A file name as Unicode text: bytes that are not UTF-8 (held by the
    interpreter as lone surrogates) shown as \\xNN escapes."""
    return os.fsencode(path).decode("utf-8", errors="backslashreplace")


def _raise_walk_error(error: OSError) -> None:
    raise UsageError(f"cannot read {error.filename}: {error.strerror or error}")


def _selected(args: argparse.Namespace, name: str) -> bool:
    return args.glob is None or fnmatch.fnmatchcase(name, args.glob)


def find_clusters(texts: Sequence[str | None], args: argparse.Namespace, progress: Progress) -> np.ndarray:
    """Cluster labels from vornkit's near-duplicate detection, a missing text its own cluster."""
    options = {
        name: value
        for name, value in (
            ("threshold", args.threshold),
            ("shingle_size", args.shingle_size),
            ("num_hashes", args.num_hashes),
        )
        if value is not None
    }
    return dedup_with_missing(texts, method=args.method, workers=args.workers, progress=progress.enabled, **options)


def run_dedup(args: argparse.Namespace) -> int:
    if args.method == "simhash" and args.num_hashes is not None:
        raise UsageError("--num-hashes applies to --method minhash only")
    check_output(args.out, args.paths)
    progress = Progress.on_terminal(args.quiet)
    ids, texts = _documents(args, progress)
    check_output(args.out, ids if args.column is None else ())
    labels = find_clusters(texts, args, progress) if texts else np.empty(0, np.int64)
    _, inverse, counts = np.unique(labels, return_inverse=True, return_counts=True)
    sizes = counts[inverse] if len(labels) else labels
    write_table(args.out, {"id": ids, "cluster": labels.tolist(), "cluster_size": sizes.tolist()})
    _note(args, _dedup_summary(ids, labels, counts))
    return 0


def _dedup_summary(ids: list[str], labels: np.ndarray, counts: np.ndarray) -> str:
    shared = counts[counts > 1]
    lines = [
        f"{len(ids)} documents in {len(counts)} clusters; "
        f"{len(shared)} clusters hold {int(shared.sum())} documents with near-duplicates"
    ]
    representatives, sizes = np.unique(labels, return_counts=True)
    for k in np.lexsort((representatives, -sizes))[:LARGEST_SHOWN]:
        if sizes[k] > 1:
            lines.append(f"  {sizes[k]:6d} x {ids[representatives[k]]}")
    return "\n".join(lines)


# ------------------------------------------------------------ link


def _per_field(values: list[Any] | None, count: int, option: str, default: Any) -> list[Any]:
    if values is None:
        return [default] * count
    if len(values) == 1:
        return values * count
    if len(values) != count:
        raise UsageError(f"{option} has {len(values)} values for {count} fields in --on")
    return values


def _link_ids(args: argparse.Namespace, tables: list[Table]) -> list[list[str | None]]:
    id_names = args.id or [None]
    if len(id_names) > len(tables):
        raise UsageError("--id takes one column name, or two (left,right)" if len(tables) == 2 else
                         "--id takes one column name for one table")  # fmt: skip
    ids = []
    for table, name in zip(tables, id_names * len(tables) if len(id_names) == 1 else id_names):
        name = name or (table.names[0] if table.names else None)
        if name is None:
            raise UsageError(f"{table.path}: the table has no columns")
        ids.append(table.column(name))
    return ids


def run_link(args: argparse.Namespace) -> int:
    inputs = [path for path in (args.left, args.right) if path is not None]
    for path in (args.out, args.clusters):
        check_output(path, inputs)
    if args.model is not None:
        directory = os.path.dirname(args.model) or "."
        if not os.path.isdir(directory) or os.path.isdir(args.model):
            raise UsageError(f"cannot write {args.model}: " + ("it is a directory" if os.path.isdir(args.model)
                             else f"no directory {directory!r}"))  # fmt: skip
    if args.on is not None:
        repeated = sorted({name for name in args.on if args.on.count(name) > 1})
        if repeated:
            raise UsageError(f"--on names the column {repeated[0]!r} twice")
    if args.method == "mean":
        return _run_mean_link(args)
    for option, value in (("--scorer", args.scorer), ("--weights", args.weights)):
        if value is not None:
            raise UsageError(f"{option} applies to --method mean only")
    if args.right is None and args.one_to_one:
        raise UsageError("--one-to-one pairs two tables; with one table, use --clusters")
    if args.right is not None and args.clusters is not None:
        raise UsageError("--clusters is for one table (deduplication)")
    model = None
    if args.use_model is not None:
        try:
            model = LinkageModel.load(args.use_model)
        except OSError as error:
            raise UsageError(f"cannot read {args.use_model}: {error.strerror or error}") from None
        except ValueError as error:
            raise UsageError(str(error)) from None
        names = [field.name for field in model.fields]
        if args.on is not None and args.on != names:
            raise UsageError(f"--on {','.join(args.on)} differs from the saved model's fields {','.join(names)}")
    elif args.on is None:
        raise UsageError("give the fields to compare with --on (or a saved model with --use-model)")
    with collector_paused():
        return _link_tables(args, model)


def _link_tables(args: argparse.Namespace, model: LinkageModel | None) -> int:
    tables = [read_table(path) for path in (args.left, args.right) if path is not None]
    ids = _link_ids(args, tables)
    names = [field.name for field in model.fields] if model is not None else args.on
    for table in tables:
        for name in [*names, *([args.block] if args.block else [])]:
            table.column(name)  # a missing column is named with its file
    threshold = _fellegi_sunter.DEFAULT_THRESHOLD if args.threshold is None else args.threshold
    blocking = [(args.block,)] if args.block is not None else None
    started = time.perf_counter()
    try:
        result = link_records(
            tables[0].columns,
            tables[1].columns if len(tables) == 2 else None,
            on=None if model is not None else args.on,
            model=model,
            threshold=threshold,
            blocking=blocking,
            preprocess=not args.no_preprocess,
            workers=args.workers,
            report=lambda line: _note(args, line),
        )
    except (RecordsError, CandidateLimitError) as error:
        raise UsageError(str(error)) from None
    elapsed = time.perf_counter() - started
    rows = np.arange(len(result))
    if args.one_to_one:
        rows = np.sort(_linkage.best_first_one_to_one(result.left, result.right, result.match_weight))
    columns: dict[str, Any] = {
        "left_id": [ids[0][i] for i in result.left[rows].tolist()],
        "right_id": [ids[-1][j] for j in result.right[rows].tolist()],
    }
    for name, values in result.to_dict(args.detail).items():
        if name not in columns:
            values = values[rows].tolist()
            columns[name] = [None if v == -1 else v for v in values] if name.endswith("_level") else values
    write_table(args.out, columns)
    if args.clusters is not None:
        labels = result.clusters(threshold)
        write_table(args.clusters, {"id": ids[0], "cluster": labels.tolist()})
    if args.model is not None:
        result.model.save(args.model)
    shape = f"{len(tables[0])} rows" if len(tables) == 1 else f"{len(tables[0])} x {len(tables[1])} rows"
    _note(
        args,
        f"{len(rows)} pairs at match probability >= {threshold:g} of {result.candidates} candidate pairs "
        f"({shape}) in {elapsed:.2f} s\n"
        f"prior match probability {result.model.prior:.3g}; fields (kind): "
        + ", ".join(f"{f.name} ({f.kind})" for f in result.model.fields),
    )
    return 0


def _run_mean_link(args: argparse.Namespace) -> int:
    """Today's weighted-mean scoring of every pair (or of the pairs sharing --block)."""
    if args.right is None:
        raise UsageError("--method mean links two tables: give LEFT and RIGHT")
    if args.on is None:
        raise UsageError("--method mean needs the fields to compare: --on")
    for option, value in (("--clusters", args.clusters), ("--model", args.model), ("--use-model", args.use_model)):
        if value is not None:
            raise UsageError(f"{option} applies to --method fellegi-sunter only")
    progress = Progress.on_terminal(args.quiet)
    tables = [read_table(args.left), read_table(args.right)]
    ids = _link_ids(args, tables)
    processor = None if args.no_preprocess else vorn.Preprocessor()
    values = [{name: _linkage.preprocess(t.column(name), processor) for name in args.on} for t in tables]
    block = None
    if args.block is not None:
        block = (
            _linkage.preprocess(tables[0].column(args.block), processor),
            _linkage.preprocess(tables[1].column(args.block), processor),
        )
    scorers = _per_field(args.scorer, len(args.on), "--scorer", _linkage.AUTO)
    weights = _per_field(args.weights, len(args.on), "--weights", None)
    fields = []
    for name, scorer, weight in zip(args.on, scorers, weights):
        left, right = values[0][name], values[1][name]
        fields.append(
            _linkage.Field(
                name,
                _linkage.auto_scorer(left, right) if scorer == _linkage.AUTO else scorer,
                _linkage.auto_weight(left, right) if weight is None else weight,
            )
        )
    if not any(field.weight for field in fields):
        raise UsageError("--weights: at least one field needs a weight above 0")
    threshold = MEAN_THRESHOLD if args.threshold is None else args.threshold
    started = time.perf_counter()
    with progress.fraction_bar("scoring") as advance:
        matches = _linkage.link(
            values[0],
            values[1],
            _linkage.summable(fields),
            threshold,
            block=block,
            one_to_one=args.one_to_one,
            workers=args.workers,
            progress=advance,
        )
    elapsed = time.perf_counter() - started
    columns: dict[str, list[Any]] = {
        "left_id": [ids[0][i] for i in matches.left.tolist()],
        "right_id": [ids[1][j] for j in matches.right.tolist()],
        "score": matches.score.tolist(),
    }
    for field in fields:
        columns[f"{field.name}_score"] = [None if s != s else s for s in matches.field_scores[field.name].tolist()]
    write_table(args.out, columns)
    blocking = f"blocked on {args.block}, " if block else ""
    _note(
        args,
        f"{len(matches.left)} matched pairs of {len(tables[0])} x {len(tables[1])} rows "
        f"({blocking}{matches.compared} pairs scored) in {elapsed:.2f} s\n"
        f"fields (scorer, weight): " + ", ".join(f"{f.name} ({f.scorer}, {f.weight:.3g})" for f in fields),
    )
    return 0


# ------------------------------------------------------------ search


def best_matches(query: str, choices: Sequence[str | None], args: argparse.Namespace) -> list[tuple[str, float, int]]:
    """The top choices from vornkit's search, best first."""
    import vornkit

    processor = None if args.no_preprocess else vorn.Preprocessor()
    algorithm = _scorers.named(args.scorer, other_forms=True)
    cutoff = args.score_cutoff
    if cutoff is not None and _scorers.is_whole_number(algorithm):
        # Edits are counted in whole numbers: at most 2.5 is at most 2, at least 2.5 at least 3.
        cutoff = math.floor(cutoff) if algorithm.is_distance else math.ceil(cutoff)
    return list(
        vornkit.extract(
            query,
            choices,
            scorer=algorithm.scorer(),
            processor=processor,
            limit=args.limit,
            score_cutoff=cutoff,
            workers=args.workers,
        )
    )


def run_search(args: argparse.Namespace) -> int:
    check_output(args.out, [args.choices])
    refuse_non_text(args.query, "QUERY")
    choices: Sequence[str | None]
    if table_format(args.choices) is not None:
        table = read_table(args.choices)
        name = args.column or (table.names[0] if table.names else None)
        if name is None:
            raise UsageError(f"{table.path}: the table has no columns")
        choices = table.column(name)  # a missing value is never a match
    else:
        if args.column is not None:
            raise UsageError(f"--column needs a table (CSV, JSON Lines or Parquet), not {args.choices}")
        choices = read_lines(args.choices)
    found = best_matches(args.query, choices, args) if choices else []
    write_table(
        args.out,
        {
            "index": [index for _, _, index in found],
            "score": [score for _, score, _ in found],
            "choice": [choice for choice, _, _ in found],
        },
    )
    return 0


# ------------------------------------------------------------ the parser


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(
        prog="vornkit",
        description="Near-duplicates, record linkage and fuzzy search with vorn's exact similarity scores.",
        epilog="Run 'vornkit COMMAND --help' for a command's options.",
    )
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND", parser_class=_Parser)

    def common(sub: argparse.ArgumentParser, out_help: str) -> None:
        sub.add_argument("--out", metavar="FILE", help=out_help)
        sub.add_argument(
            "--workers", type=_workers, default=-1, metavar="N", help="threads to use; -1 (default) for every core"
        )
        sub.add_argument("-q", "--quiet", action="store_true", help="no progress bar and no summary on stderr")

    out_formats = "(.csv, .tsv, .jsonl or .parquet, by its extension); default: CSV on stdout"

    dedup = commands.add_parser(
        "dedup",
        help="cluster near-duplicate documents",
        description="Clusters near-duplicate texts: the files under the paths (recursively), or one column "
        "of a table. Writes one row per text (id, cluster, cluster_size); the cluster is the index of its "
        "first text. A summary goes to stderr.",
    )
    dedup.add_argument("paths", nargs="+", metavar="PATH", help="files and directories, or one table with --column")
    dedup.add_argument("--method", choices=("minhash", "simhash"), default="minhash", help="default: minhash")
    dedup.add_argument("--threshold", type=_threshold, metavar="T", help="estimated similarity that links two texts")
    dedup.add_argument("--shingle-size", type=_shingle_size, metavar="K", help="characters per shingle")
    dedup.add_argument("--num-hashes", type=_num_hashes, metavar="M", help="MinHash signature length (at most 65536)")
    dedup.add_argument("--column", metavar="NAME", help="the text column of a CSV, JSON Lines or Parquet table")
    dedup.add_argument("--id", metavar="NAME", help="with --column: the id column (default: the row number)")
    dedup.add_argument("--glob", metavar="PATTERN", help="only files whose name matches, e.g. 'copyright' or '*.txt'")
    common(dedup, f"where to write the clusters {out_formats}")
    dedup.set_defaults(run=run_dedup)

    link = commands.add_parser(
        "link",
        help="link the records of two tables, or deduplicate one",
        description="Links the records of two tables (LEFT and RIGHT), or finds the records of one table "
        "that describe the same entity (LEFT alone; each pair once). Each field in --on is preprocessed "
        "(Unicode NFC, whitespace, lowercase) and compared at a few agreement levels chosen from its "
        "values (names, codes and numbers, dates, free text). A probabilistic model (Fellegi-Sunter), "
        "fitted on the data without labels, turns each field's level into a match weight; a pair's "
        "match probability comes from their sum. Writes the pairs at or above the threshold: left_id, "
        "right_id, match_probability, match_weight, then each field's level and weight.",
    )
    link.add_argument("left", metavar="LEFT", help="a CSV, JSON Lines or Parquet table")
    link.add_argument(
        "right", metavar="RIGHT", nargs="?", help="a table with the same field columns (omit to deduplicate LEFT)"
    )
    link.add_argument("--on", type=_names, metavar="COL[,COL...]", help="the fields to compare")
    link.add_argument(
        "--id", type=_names, metavar="COL[,COL]", help="id column of both tables, or left,right (default: the first)"
    )
    link.add_argument(
        "--threshold",
        type=_threshold,
        metavar="P",
        help=f"lowest match probability written (default {_fellegi_sunter.DEFAULT_THRESHOLD}: the model's "
        f"decisions); with --method mean, the lowest weighted mean score (default {MEAN_THRESHOLD})",
    )
    link.add_argument("--clusters", metavar="FILE", help="one table: write id,cluster for every record")
    link.add_argument("--model", metavar="FILE", help="save the fitted model (JSON)")
    link.add_argument("--use-model", metavar="FILE", help="predict with a saved model instead of fitting one")
    link.add_argument(
        "--detail",
        choices=("both", "level", "weight"),
        default="both",
        help="per field: its agreement level (0 = disagree, higher = closer; empty = missing), its weight, "
        "or both (default)",
    )
    link.add_argument(
        "--one-to-one", action="store_true", help="keep each record in at most one pair, taking pairs best first"
    )
    link.add_argument("--block", metavar="COL", help="compare only pairs that agree exactly on this column")
    link.add_argument(
        "--method",
        choices=("fellegi-sunter", "mean"),
        default="fellegi-sunter",
        help="fellegi-sunter (default): the probabilistic model; mean: every pair's weighted mean of field "
        "scores, for two tables",
    )
    link.add_argument(
        "--scorer",
        type=_similarity_names,
        metavar="NAME[,NAME...]",
        help="--method mean: one similarity for all fields or one per field: "
        + ", ".join([_linkage.AUTO, *_linkage.SCORERS])
        + " (a fuzz ratio counts divided by 100); auto (default): levenshtein for fields without letters "
        "(codes, numbers, dates), jaro_winkler otherwise",
    )
    link.add_argument(
        "--weights",
        type=_weights,
        metavar="W[,W...]",
        help="--method mean: one per field, or 'auto' (default): log2(1/u), at least 1, where u is the chance "
        "that two random records agree exactly on the field",
    )
    link.add_argument("--no-preprocess", action="store_true", help="compare the values as they are")
    common(link, f"where to write the pairs {out_formats}")
    link.set_defaults(run=run_link)

    search = commands.add_parser(
        "search",
        help="find the best matches of one string",
        description="Finds the choices most similar to QUERY, best first: the lines of a text file, or one "
        "column of a table. Writes index (0-based), score and choice.",
    )
    search.add_argument("query", metavar="QUERY")
    search.add_argument("choices", metavar="CHOICES-FILE", help="a text file (one choice per line) or a table")
    search.add_argument(
        "--scorer",
        type=_search_scorer_name,
        default="jaro_winkler",
        metavar="NAME",
        help="one of " + ", ".join(_scorers.NAMED | _scorers.OTHER_FORMS) + "; default: jaro_winkler",
    )
    search.add_argument("--limit", type=_positive, default=5, metavar="N", help="how many matches (default 5)")
    search.add_argument(
        "--score-cutoff",
        type=_score_cutoff,
        metavar="S",
        help="only matches scoring at least S (a similarity, in the scorer's range: 0-100 for the fuzz "
        "ratios), or at most S (a distance)",
    )
    search.add_argument("--column", metavar="NAME", help="the column of a table (default: the first)")
    search.add_argument("--no-preprocess", action="store_true", help="compare the strings as they are")
    common(search, f"where to write the matches {out_formats}")
    search.set_defaults(run=run_search)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    try:
        args = build_parser().parse_args(argv)
        return int(args.run(args))
    except (UsageError, TableError) as error:
        print(f"vornkit {args.command}: error: {error}", file=sys.stderr)
        return EXIT_USAGE
    except KeyboardInterrupt:
        print("vornkit: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    except MemoryError:
        print(f"vornkit {args.command}: error: out of memory", file=sys.stderr)
        return 1
    except BrokenPipeError:
        # The reader of stdout went away (e.g. '| head'): not an error of ours.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
