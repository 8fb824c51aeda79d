"""The command line on real, awkward files: nulls, non-text Parquet columns,
huge CSV fields, lone surrogates, output files that are inputs, links or
private, full or closed stdout, FIFOs in a tree, absurd sizes."""

import json
import os
import stat
import subprocess
import sys
from pathlib import Path

import pytest

pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")

TEXT = "Permission is hereby granted, free of charge, to any person obtaining a copy. " * 3


def vornkit(*args, cwd=None, **kwargs):
    command = [sys.executable, "-m", "vornkit", *args]
    return subprocess.run(command, capture_output=True, cwd=cwd, timeout=120, check=False, **kwargs)


def one_line_error(done, status=2):
    err = done.stderr.decode("utf-8", "replace")
    assert done.returncode == status, err
    assert len(err.splitlines()) == 1 and "Traceback" not in err, err
    return err


def jsonl(path: Path, rows) -> Path:
    path.write_text("".join(json.dumps(row) + "\n" for row in rows), encoding="utf-8")
    return path


def rows_of(path: Path):
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines()]


# ---------------------------------------------------------------- nulls


def test_missing_texts_are_never_clustered_or_found(tmp_path):
    rows = [{"id": "a", "body": TEXT}, {"id": "b"}, {"id": "c", "body": None}, {"id": "d", "body": TEXT}, {"id": "e"}]
    table = jsonl(tmp_path / "posts.jsonl", rows)
    done = vornkit("dedup", str(table), "--column", "body", "--id", "id", "--out", "clusters.jsonl", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    sizes = {row["id"]: row["cluster_size"] for row in rows_of(tmp_path / "clusters.jsonl")}
    assert sizes == {"a": 2, "b": 1, "c": 1, "d": 2, "e": 1}
    args = ["search", "", str(table), "--column", "body", "--scorer", "levenshtein", "--limit", "9"]
    done = vornkit(*args, "--out", "found.jsonl", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert [(row["index"], row["choice"]) for row in rows_of(tmp_path / "found.jsonl")] == [(0, TEXT), (3, TEXT)]


# ---------------------------------------------------------------- Parquet


@pytest.fixture
def typed_parquet(tmp_path):
    import datetime
    import decimal

    table = pa.table(
        {
            "id": pa.array([1, 2, 3]),
            "body": [TEXT, TEXT, "other"],
            "day": pa.array([datetime.date(2024, 2, 29), None, datetime.date(1999, 12, 31)]),
            "at": pa.array([datetime.datetime(2024, 1, 2, 3, 4, 5)] * 3, pa.timestamp("us")),
            "price": pa.array([decimal.Decimal("1.50")] * 3, pa.decimal128(5, 2)),
            "blob": pa.array([b"\xff\xfe", b"x", b""], pa.binary()),
            "raw": pa.array([b"caf\xc3\xa9", b"x", b""], pa.binary()),
        }
    )
    pq.write_table(table, tmp_path / "typed.parquet")
    return tmp_path / "typed.parquet"


def test_parquet_columns_of_other_types(typed_parquet, tmp_path):
    done = vornkit("dedup", str(typed_parquet), "--column", "body", "--id", "id", "--out", "c.jsonl", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert [row["id"] for row in rows_of(tmp_path / "c.jsonl")] == ["1", "2", "3"]
    for column, expected in [("day", "2024-02-29"), ("at", "2024-01-02T03:04:05"), ("price", "1.50"), ("raw", "café")]:
        done = vornkit("search", expected, str(typed_parquet), "--column", column, "--limit", "1", "-q")
        assert done.returncode == 0, done.stderr
        assert done.stdout.decode().splitlines()[1] == f"0,1.0,{expected}"
    err = one_line_error(vornkit("search", "x", str(typed_parquet), "--column", "blob"))
    assert "column 'blob' (binary) cannot be read as text" in err


def test_parquet_with_a_repeated_column_name(tmp_path):
    table = pa.Table.from_arrays([pa.array(["a"]), pa.array(["b"])], names=["name", "name"])
    pq.write_table(table, tmp_path / "twice.parquet")
    err = one_line_error(vornkit("search", "a", "twice.parquet", cwd=tmp_path))
    assert "column 'name' appears twice" in err


# ---------------------------------------------------------------- text


def test_csv_fields_of_any_size(tmp_path):
    big = "word " * 60_000  # 300 kB in one field
    (tmp_path / "big.csv").write_text(f"id,body\n1,{big}\n2,{big}\n3,small\n", encoding="utf-8")
    done = vornkit("dedup", "big.csv", "--column", "body", "-q", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert done.stdout.decode().splitlines()[1:] == ["0,0,2", "1,0,2", "2,2,1"]


@pytest.mark.parametrize("where", ["body", "id"])
def test_lone_surrogates_are_refused_in_one_line(tmp_path, where):
    rows = [{"id": "a", "body": TEXT}, {"id": "b", "body": TEXT}]
    rows[1][where] = "x\ud800y"
    table = tmp_path / "t.jsonl"
    table.write_text("".join(json.dumps(row) + "\n" for row in rows), encoding="utf-8")  # ascii escapes
    for args in (
        ["dedup", "t.jsonl", "--column", "body", "--id", "id", "--out", "o.jsonl"],
        ["search", "x", "t.jsonl", "--column", "body"],
        ["link", "t.jsonl", "t.jsonl", "--on", "body", "--out", "o.csv"],
    ):
        err = one_line_error(vornkit(*args, cwd=tmp_path))
        assert "t.jsonl line 2" in err and "lone surrogate" in err
    assert sorted(os.listdir(tmp_path)) == ["t.jsonl"]
    # Surrogate pairs are ordinary characters.
    jsonl(table, [{"id": "a", "body": "\U0001f600 " + TEXT}])
    assert vornkit("dedup", "t.jsonl", "--column", "body", "-q", cwd=tmp_path).returncode == 0


def test_query_and_file_names_that_are_not_utf8(tmp_path):
    (tmp_path / "names.txt").write_text("anna\n", encoding="utf-8")
    err = one_line_error(vornkit("search", b"\xffanna", "names.txt", cwd=tmp_path))
    assert "QUERY" in err and "lone surrogate" in err
    tree = tmp_path / "tree"
    tree.mkdir()
    (tree / os.fsdecode(b"caf\xe9.txt")).write_text(TEXT, encoding="utf-8")
    (tree / "copy.txt").write_text(TEXT, encoding="utf-8")
    for out in ("o.csv", "o.jsonl"):
        done = vornkit("dedup", "tree", "--out", out, "-q", cwd=tmp_path)
        assert done.returncode == 0, done.stderr
    assert [row["id"] for row in rows_of(tmp_path / "o.jsonl")] == ["tree/caf\\xe9.txt", "tree/copy.txt"]


def test_the_utf8_error_names_the_byte_of_the_file(tmp_path):
    data = ("id,name\n" + "".join(f"{i},name {i}\n" for i in range(6000))).encode()
    offset = 67_796
    data = data[:offset] + b"\xff" + data[offset:]
    (tmp_path / "bad.csv").write_bytes(data)
    err = one_line_error(vornkit("search", "x", "bad.csv", cwd=tmp_path))
    assert f"bad.csv: not UTF-8 text (byte {offset})" in err
    (tmp_path / "bom.csv").write_bytes(b"\xef\xbb\xbf" + data)
    assert f"(byte {offset + 3})" in one_line_error(vornkit("search", "x", "bom.csv", cwd=tmp_path))


# ---------------------------------------------------------------- output files


@pytest.fixture
def names(tmp_path):
    (tmp_path / "names.csv").write_text("id,name\n1,anna\n2,anne\n", encoding="utf-8")
    return tmp_path


@pytest.mark.parametrize(
    "args",
    [
        ["link", "names.csv", "names.csv", "--on", "name", "--out", "names.csv"],
        ["link", "names.csv", "./names.csv", "--on", "name", "--out", "./names.csv"],
        ["search", "anna", "names.csv", "--out", "names.csv"],
        ["dedup", "names.csv", "--column", "name", "--out", "names.csv"],
        ["dedup", ".", "--out", "names.csv"],
    ],
)
def test_out_must_not_be_an_input(names, args):
    before = (names / "names.csv").read_bytes()
    err = one_line_error(vornkit(*args, cwd=names))
    assert "names.csv" in err and "input" in err
    assert (names / "names.csv").read_bytes() == before


def test_out_keeps_its_mode_and_writes_through_a_link(names):
    out = names / "private.csv"
    out.write_text("old\n")
    out.chmod(0o600)
    assert vornkit("search", "anna", "names.csv", "--column", "name", "--out", "private.csv", cwd=names).returncode == 0
    assert stat.S_IMODE(out.stat().st_mode) == 0o600 and out.read_text().startswith("index,score,choice")
    (names / "link.csv").symlink_to("private.csv")
    assert vornkit("search", "anne", "names.csv", "--column", "name", "--out", "link.csv", cwd=names).returncode == 0
    assert (names / "link.csv").is_symlink() and "anne" in out.read_text().splitlines()[1]
    assert stat.S_IMODE(out.stat().st_mode) == 0o600


@pytest.mark.parametrize("fmt", ["csv", "parquet"])
def test_new_output_takes_the_umask_without_changing_it(tmp_path, monkeypatch, fmt):
    from vornkit._tables import write_table

    def forbidden(mask):  # setting the umask, even for a moment, changes it for every thread
        raise AssertionError("the process umask was changed")

    previous = os.umask(0o027)
    try:
        monkeypatch.setattr(os, "umask", forbidden)
        out = tmp_path / f"new.{fmt}"
        write_table(str(out), {"id": [1, 2], "name": ["anna", "bo"]})
    finally:
        monkeypatch.undo()
        os.umask(previous)
    assert stat.S_IMODE(out.stat().st_mode) == 0o640
    assert [p.name for p in tmp_path.iterdir()] == [out.name]  # no temporary file left


def test_failed_stdout_is_one_line(names):
    with open("/dev/full", "wb") as full:
        done = subprocess.run(
            [sys.executable, "-m", "vornkit", "search", "anna", "names.csv"],
            stdout=full,
            stderr=subprocess.PIPE,
            cwd=names,
            timeout=60,
            check=False,
        )
    err = one_line_error(done)
    assert "cannot write the results to stdout" in err
    closed = subprocess.run(
        [sys.executable, "-m", "vornkit", "search", "anna", "names.csv"],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        cwd=names,
        timeout=60,
        check=False,
        preexec_fn=lambda: os.close(1),
    )
    assert "stdout is closed" in one_line_error(closed)


@pytest.mark.parametrize(
    "args",
    [
        ["dedup", "names.csv", "--column", "name", "--num-hashes", "100000"],
        ["dedup", "names.csv", "--column", "name", "--workers", "100000000"],
        ["dedup", "names.csv", "--column", "name", "--shingle-size", str(2**64 + 3)],
        ["search", "anna", "names.csv", "--workers", str(2**70)],
    ],
)
def test_large_sizes_work_or_are_one_line(names, args):
    done = vornkit(*args, "-q", cwd=names)
    if done.returncode != 0:
        one_line_error(done)


def test_workers_that_is_not_a_whole_number(names):
    err = one_line_error(vornkit("search", "anna", "names.csv", "--workers", "1e20", cwd=names))
    assert "--workers" in err


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="needs FIFOs")
def test_a_fifo_in_the_tree_is_skipped(tmp_path):
    tree = tmp_path / "tree"
    tree.mkdir()
    (tree / "a.txt").write_text(TEXT, encoding="utf-8")
    os.mkfifo(tree / "pipe")
    done = vornkit("dedup", "tree", "-q", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert done.stdout.decode().splitlines() == ["id,cluster,cluster_size", "tree/a.txt,0,1"]
