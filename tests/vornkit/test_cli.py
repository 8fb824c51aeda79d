"""The vornkit command line end to end on small files made here: dedup over a
directory tree and table columns, link and search against plain references
built from the scalar vorn functions, every output format, and bad input."""

import csv
import json
import math
import os
import random
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest
import vorn

from vornkit import _linkage, _scorers, cli

pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")

FORMATS = ["csv", "tsv", "jsonl", "parquet"]
CLEAN = vorn.Preprocessor()


def vornkit(*args, cwd=None, **kwargs):
    """Runs the command line in a fresh interpreter, as a shell would."""
    command = [sys.executable, "-m", "vornkit", *map(str, args)]
    return subprocess.run(command, capture_output=True, text=True, cwd=cwd, timeout=120, **kwargs)


def write(path: Path, rows: list[dict]) -> Path:
    """Writes rows as the file's extension says, independently of vornkit's writer."""
    names = list(rows[0])
    if path.suffix == ".parquet":
        pq.write_table(pa.table({n: [r[n] for r in rows] for n in names}), path)
    elif path.suffix == ".jsonl":
        path.write_text("".join(json.dumps(r) + "\n" for r in rows), encoding="utf-8")
    else:
        with open(path, "w", newline="", encoding="utf-8") as f:
            writer = csv.DictWriter(f, names, delimiter="\t" if path.suffix == ".tsv" else ",")
            writer.writeheader()
            writer.writerows(rows)
    return path


def read(path: Path) -> list[dict]:
    if path.suffix == ".parquet":
        return pq.read_table(path).to_pylist()
    if path.suffix == ".jsonl":
        return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines()]
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.DictReader(f, delimiter="\t" if path.suffix == ".tsv" else ","))
    return [{k: _number(v) for k, v in row.items()} for row in rows]


def _number(text):
    for kind in (int, float):
        try:
            return kind(text)
        except ValueError:
            pass
    return None if text == "" else text


# ---------------------------------------------------------------- dedup

BASE = "Permission is hereby granted, free of charge, to any person obtaining a copy of this software. " * 4
TEXTS = {
    "a/copyright": BASE,
    "a/b/copyright": BASE,  # identical
    "c/copyright": BASE.replace("free of charge", "free of charges", 1),  # near-duplicate
    "d/copyright": "The quick brown fox jumps over the lazy dog, again and again and again.",
    "d/NOTES": BASE,  # not selected by --glob
    "e/copyright": "",
}


@pytest.fixture
def tree(tmp_path):
    for name, text in TEXTS.items():
        (tmp_path / "docs" / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / "docs" / name).write_text(text, encoding="utf-8")
    return tmp_path / "docs"


@pytest.mark.parametrize("fmt", FORMATS)
@pytest.mark.parametrize("method", ["minhash", "simhash"])
def test_dedup_tree(tree, tmp_path, fmt, method, capsys):
    out = tmp_path / f"clusters.{fmt}"
    assert cli.main(["dedup", str(tree), "--glob", "copyright", "--method", method, "--out", str(out)]) == 0
    rows = read(out)
    # A directory's files (sorted) come before its subdirectories', as find lists them.
    walk = ["a/copyright", "a/b/copyright", "c/copyright", "d/copyright", "e/copyright"]
    assert [row["id"] for row in rows] == [str(tree / name) for name in walk]
    label = {Path(row["id"]).relative_to(tree).as_posix(): row["cluster"] for row in rows}
    assert label["a/b/copyright"] == label["a/copyright"] == label["c/copyright"] == 0
    assert len({label["a/copyright"], label["d/copyright"], label["e/copyright"]}) == 3
    assert [row["cluster_size"] for row in rows] == [3, 3, 3, 1, 1]
    summary = capsys.readouterr().err
    assert "5 documents in 3 clusters" in summary and f"3 x {tree / 'a/copyright'}" in summary


def test_dedup_column_to_stdout(tmp_path, capsys):
    table = write(
        tmp_path / "docs.parquet",
        [{"key": f"k{i}", "text": t} for i, t in enumerate([BASE, "short text", BASE, None])],
    )
    assert cli.main(["dedup", str(table), "--column", "text", "--id", "key", "-q"]) == 0
    captured = capsys.readouterr()
    assert captured.err == ""
    assert captured.out.splitlines() == ["id,cluster,cluster_size", "k0,0,2", "k1,1,1", "k2,0,2", "k3,3,1"]


# ---------------------------------------------------------------- link

NAMES = ["anna", "anne", "jon", "john", "jonathan", "maría", "marie", "zoë", "", "bo"]
STREETS = ["high street", "high st", "main road", "mill lane", "church road", ""]


def people(rng, n, prefix):
    return [
        {
            "id": f"{prefix}{k}",
            "name": rng.choice(NAMES).upper() if rng.random() < 0.2 else rng.choice(NAMES),
            "street": rng.choice(STREETS),
            "zip": rng.choice(["4223", "4232", "2000", "", "2001"]),
        }
        for k in range(n)
    ]


def cleaned(rows, field):
    """A column as the command line compares it (CSV read back here turns digits into numbers)."""
    return [CLEAN.process("" if row[field] is None else str(row[field])) for row in rows]


def reference_link(left, right, fields, scorers, weights, threshold):
    """Every pair, scored with the scalar functions: weighted mean over present fields."""
    found = {}
    for a in left:
        for b in right:
            total = weight_sum = 0.0
            scores = {}
            for field, scorer, weight in zip(fields, scorers, weights):
                x, y = cleaned([a], field)[0], cleaned([b], field)[0]
                if x and y:
                    # A fuzz ratio counts divided by 100, like every similarity in [0, 1].
                    scores[field] = _linkage.SCORERS[scorer](x, y) / _scorers.named(scorer).scale
                    total += weight * scores[field]
                    weight_sum += weight
            if weight_sum and total / weight_sum >= threshold:
                found[a["id"], b["id"]] = (total / weight_sum, scores)
    return found


# simhash scores an empty text against another above 0: missing fields must still count for nothing.
@pytest.mark.parametrize("seed", range(2))
@pytest.mark.parametrize(
    ("formats", "scorers"),
    [
        (("csv", "parquet"), ["jaro_winkler", "levenshtein", "hamming"]),
        (("jsonl", "tsv"), ["jaccard_bigram", "simhash_default", "levenshtein"]),
        (("csv", "csv"), ["token_set_ratio", "JaroWinkler.similarity", "Indel.normalized_similarity"]),
    ],
)
@pytest.mark.parametrize("memory", ["default", "tight"])
def test_link_matches_reference(tmp_path, monkeypatch, seed, formats, scorers, memory):
    if memory == "tight":  # no shared matrices, chunks of three rows: every field scored chunk by chunk
        monkeypatch.setattr(_linkage, "SHARED_SCORES", 0)
        monkeypatch.setattr(_linkage, "CHUNK_PAIRS", 100)
    rng = random.Random(seed)
    left = write(tmp_path / f"left.{formats[0]}", people(rng, 23, "L"))
    right = write(tmp_path / f"right.{formats[1]}", people(rng, 31, "R"))
    fields, weights = ["name", "street", "zip"], [2.0, 1.0, 0.5]
    out = tmp_path / "pairs.csv"
    args = ["link", left, right, "--on", ",".join(fields), "--method", "mean", "--scorer", ",".join(scorers),
            "--weights", "2,1,0.5"]  # fmt: skip
    assert cli.main([*map(str, args), "--threshold", "0.6", "--out", str(out)]) == 0
    rows = read(out)
    expected = reference_link(read(left), read(right), fields, scorers, weights, 0.6)
    assert {(r["left_id"], r["right_id"]) for r in rows} == set(expected)
    for row in rows:
        score, scores = expected[row["left_id"], row["right_id"]]
        assert row["score"] == score
        for field in fields:  # each field's score is exactly vorn's, empty when a side is missing
            assert row[f"{field}_score"] == scores.get(field)


def test_link_defaults_block_and_one_to_one(tmp_path, monkeypatch):
    rng = random.Random(7)
    left = write(tmp_path / "left.csv", people(rng, 40, "L"))
    right = write(tmp_path / "right.csv", people(rng, 40, "R"))
    base = ["link", str(left), str(right), "--on", "name,street,zip", "--method", "mean", "--threshold", "0.5"]

    def pairs(*extra):
        out = tmp_path / "out.csv"
        assert cli.main([*base, *extra, "--out", str(out), "-q"]) == 0
        return [(r["left_id"], r["right_id"], r["score"]) for r in read(out)]

    everything = pairs()
    # Defaults: Jaro-Winkler for names and streets, Levenshtein for the digit-only zip codes,
    # weights from the values' chance agreement.
    lrows, rrows = read(left), read(right)
    fields = ["name", "street", "zip"]
    weights = [_linkage.auto_weight(cleaned(lrows, f), cleaned(rrows, f)) for f in fields]
    assert _linkage.auto_scorer(cleaned(lrows, "zip"), cleaned(rrows, "zip")) == "levenshtein"
    expected = reference_link(lrows, rrows, fields, ["jaro_winkler", "jaro_winkler", "levenshtein"], weights, 0.5)
    assert {(a, b) for a, b, _ in everything} == set(expected)

    # Blocking keeps exactly the pairs that agree on the (preprocessed, present) column, with the
    # same scores, whether a block is scored as a matrix or pair by pair.
    street = {r["id"]: CLEAN.process(r["street"] or "") for r in lrows + rrows}
    blocked = [p for p in everything if street[p[0]] and street[p[0]] == street[p[1]]]
    for large_block in (1, 10**9):
        monkeypatch.setattr(_linkage, "LARGE_BLOCK", large_block)
        assert pairs("--block", "street") == blocked

    # One-to-one: pairs taken best first, each record once; raising the threshold only drops the tail.
    one = pairs("--one-to-one")
    assert len({a for a, _, _ in one}) == len({b for _, b, _ in one}) == len(one)
    taken, greedy = set(), []
    for a, b, s in sorted(everything, key=lambda p: (-p[2], int(p[0][1:]), int(p[1][1:]))):
        if a not in taken and b not in taken:
            taken |= {a, b}
            greedy.append((a, b, s))
    assert sorted(one) == sorted(greedy)
    higher = pairs("--one-to-one", "--threshold", "0.8")
    assert sorted(higher) == sorted(p for p in one if p[2] >= 0.8)


@pytest.mark.parametrize("empty", ["left", "right"])
def test_link_empty_table(tmp_path, capsys, empty):
    (tmp_path / "empty.csv").write_text("id,name\n", encoding="utf-8")
    write(tmp_path / "full.csv", [{"id": "1", "name": "anna"}])
    tables = [str(tmp_path / t) for t in (["empty.csv", "full.csv"] if empty == "left" else ["full.csv", "empty.csv"])]
    for method in (["--method", "mean"], ["--method", "mean", "--block", "name"]):
        assert cli.main(["link", *tables, "--on", "name", *method, "-q"]) == 0
    assert capsys.readouterr().out.splitlines() == ["left_id,right_id,score,name_score"] * 2
    assert cli.main(["link", *tables, "--on", "name", "-q"]) == 0
    assert cli.main(["link", tables[0 if empty == "left" else 1], "--on", "name", "-q"]) == 0  # one empty table
    header = "left_id,right_id,match_probability,match_weight,name_level,name_weight"
    assert capsys.readouterr().out.splitlines() == [header] * 2


def test_link_weights_near_the_largest_float(tmp_path):
    # Their sum overflows unless scaled: the weighted mean of identical records is still 1.
    rows = [{"id": "1", "name": "anna", "city": "oslo"}, {"id": "2", "name": "bo", "city": "rome"}]
    table = write(tmp_path / "people.csv", rows)
    out = tmp_path / "out.csv"
    options = ["--method", "mean", "--weights", "1e308,1e308", "--out", str(out), "-q"]
    assert cli.main(["link", str(table), str(table), "--on", "name,city", *options]) == 0
    found = {(r["left_id"], r["right_id"]): r["score"] for r in read(out)}
    assert found[1, 1] == 1.0 and found[2, 2] == 1.0
    assert found == {k: v for k, v in found.items() if v >= 0.7}


def household_table(tmp_path, rng):
    first = ["anna", "bernard", "carla", "dmitri", "eleanor", "farid", "gina", "hugo", "ines", "jakob"]
    last = ["smith", "okafor", "lindqvist", "moreau", "tanaka", "kowalski", "haddad", "fernandes", "novak"]
    rows, entity = [], []
    for k in range(150):
        person = {"first": rng.choice(first), "last": rng.choice(last), "dob": f"19{rng.randrange(40, 99)}0"
                  f"{rng.randrange(1, 10)}{rng.randrange(10, 29)}", "zip": str(rng.randrange(1000, 9999))}  # fmt: skip
        for copy in range(rng.choice([1, 1, 2, 3])):
            record = dict(person)
            if copy and rng.random() < 0.5:
                record["first"] = record["first"][:-1]
            rows.append({"id": f"r{len(rows)}", **record})
            entity.append(k)
    return write(tmp_path / "people.csv", rows), entity


def test_link_reports_blocking_and_refuses_too_many_pairs(tmp_path, monkeypatch, capsys):
    from vornkit import _blocking, _candidate_pairs

    table, _ = household_table(tmp_path, random.Random(6))
    monkeypatch.setattr(_candidate_pairs, "ALL_PAIRS", 0)  # blocking even for a small table
    out = tmp_path / "pairs.csv"
    assert cli.main(["link", str(table), "--on", "first,last,dob,zip", "--out", str(out)]) == 0
    lines = capsys.readouterr().err.splitlines()
    rules = [line for line in lines if line.startswith("blocking: ") and " pairs: " in line]
    assert rules and all(int(line.split()[1].replace(",", "")) >= 0 for line in rules)
    assert any("estimated recall" in line for line in lines)
    monkeypatch.setattr(_blocking, "_memory_pairs", lambda: 10)
    out.write_text("kept\n", encoding="utf-8")
    assert cli.main(["link", str(table), "--on", "first,last,dob,zip", "--block", "zip", "--out", str(out), "-q"]) == 2
    error = capsys.readouterr().err
    assert error.startswith("vornkit link: error: blocking rule zip would make about") and error.count("\n") == 1
    assert out.read_text(encoding="utf-8") == "kept\n"


def test_link_one_table_clusters_and_saved_model(tmp_path):
    table, entity = household_table(tmp_path, random.Random(5))
    out, clusters, model = tmp_path / "pairs.csv", tmp_path / "clusters.csv", tmp_path / "model.json"
    on = ["--on", "first,last,dob,zip"]
    assert cli.main(["link", str(table), *on, "--out", str(out), "--clusters", str(clusters), "--model", str(model),
                     "-q"]) == 0  # fmt: skip
    pairs = read(out)
    assert list(pairs[0])[:4] == ["left_id", "right_id", "match_probability", "match_weight"]
    assert all(int(p["left_id"][1:]) < int(p["right_id"][1:]) for p in pairs)  # each unordered pair once
    assert all(p["match_probability"] >= 0.5 for p in pairs)
    found = {(int(p["left_id"][1:]), int(p["right_id"][1:])) for p in pairs}
    true = {(a, b) for a in range(len(entity)) for b in range(a + 1, len(entity)) if entity[a] == entity[b]}
    assert len(found & true) >= 0.95 * len(true) and len(found - true) <= 0.05 * len(found)
    labels = {row["id"]: row["cluster"] for row in read(clusters)}
    assert len(labels) == len(entity)
    assert all(labels[f"r{a}"] == labels[f"r{b}"] for a, b in found)
    # The saved model predicts the same pairs without fitting.
    again = tmp_path / "again.csv"
    assert cli.main(["link", str(table), "--use-model", str(model), "--out", str(again), "-q"]) == 0
    assert read(again) == pairs
    # --threshold 0 writes every candidate pair (here: every pair), best first.
    low = tmp_path / "low.csv"
    assert cli.main(["link", str(table), "--use-model", str(model), "--threshold", "0", "--out", str(low), "-q"]) == 0
    everything = read(low)
    assert len(everything) == len(entity) * (len(entity) - 1) // 2
    assert [p for p in everything if p["match_probability"] >= 0.5] == pairs


@pytest.mark.parametrize(
    ("left", "right", "expected"),
    [(["a", "b", "b", ""], ["a", "b", "c"], math.log2(9 / 3)), (["x"] * 4, ["x"] * 2, 1.0), ([""], ["a"], 1.0)],
)
def test_auto_weight(left, right, expected):
    assert _linkage.auto_weight(left, right) == pytest.approx(expected)


# ---------------------------------------------------------------- search


@pytest.mark.parametrize("scorer", ["jaro_winkler", "levenshtein", "jaccard_bigram"])
def test_search(tmp_path, capsys, scorer):
    words = ["Licence", "license", "licensed", "  LICENSE ", "silence", "", "lichen", "license"]
    (tmp_path / "words.txt").write_text("\n".join(words) + "\n", encoding="utf-8")
    write(tmp_path / "words.csv", [{"n": k, "word": w} for k, w in enumerate(words)])
    function = _linkage.SCORERS[scorer]
    scores = [(function("licence", CLEAN.process(w)), k) for k, w in enumerate(words)]
    expected = sorted(scores, key=lambda p: (-p[0], p[1]))[:3]
    for choices in (["words.txt"], ["words.csv", "--column", "word"]):
        assert cli.main(["search", "licence", str(tmp_path / choices[0]), *choices[1:], "--scorer", scorer,
                         "--limit", "3"]) == 0  # fmt: skip
        out = capsys.readouterr().out.splitlines()
        assert out[0] == "index,score,choice"
        assert [(float(line.split(",")[1]), int(line.split(",")[0])) for line in out[1:]] == expected


@pytest.mark.parametrize(
    ("scorer", "cutoff", "kept"),
    [
        ("ratio", "80", lambda score: score >= 80),  # the fuzz ratios' own range
        ("jaro_winkler", "0.9", lambda score: score >= 0.9),
        ("Levenshtein.distance", "2.5", lambda distance: distance <= 2),  # a distance: at most
        ("levenshtein_distance", "1", lambda distance: distance <= 1),
        ("Levenshtein.similarity", "5.5", lambda similarity: similarity >= 6),  # counted edits: at least 6
        ("Levenshtein.normalized_distance", "0.2", lambda distance: distance <= 0.2),  # a float: not rounded
        ("JaroWinkler.distance", "0.1", lambda distance: distance <= 0.1),
    ],
)
def test_search_score_cutoff_is_in_the_scorers_range(tmp_path, capsys, scorer, cutoff, kept):
    words = ["licence", "license", "licensed", "silence", "lichen", "licenses", "vicente"]
    (tmp_path / "words.txt").write_text("\n".join(words) + "\n", encoding="utf-8")
    assert cli.main(["search", "licence", str(tmp_path / "words.txt"), "--scorer", scorer, "--score-cutoff", cutoff,
                     "--limit", "10", "--no-preprocess"]) == 0  # fmt: skip
    found = sorted(int(line.split(",")[0]) for line in capsys.readouterr().out.splitlines()[1:])
    function = _scorers.named(scorer, other_forms=True).scorer()
    assert found == [k for k, word in enumerate(words) if kept(function("licence", word))]
    assert 0 < len(found) < len(words)


# ---------------------------------------------------------------- bad input


@pytest.fixture
def files(tmp_path):
    write(tmp_path / "people.csv", [{"id": "1", "name": "anna"}, {"id": "2", "name": "bo"}])
    (tmp_path / "ragged.csv").write_text("id,name\n1,anna\n2,bo,extra\n", encoding="utf-8")
    (tmp_path / "latin1.csv").write_bytes("id,name\n1,Zoë\n".encode("latin-1"))
    (tmp_path / "bad.jsonl").write_text('{"id": 1}\n{"id": \n', encoding="utf-8")
    (tmp_path / "broken.parquet").write_bytes(b"PAR1 not really")
    (tmp_path / "out.csv").write_text("kept\n", encoding="utf-8")
    return tmp_path


LINK = ["link", "people.csv", "people.csv", "--on", "name"]
BAD_INPUT = [
    (["dedup", "missing-dir"], "no such file or directory: missing-dir"),
    (["dedup", "people.csv", "--column", "text"], "people.csv: no column 'text' (columns: id, name)"),
    (["dedup", "people.csv", "people.csv", "--column", "name"], "--column reads one table"),
    (["dedup", "people.csv", "--method", "simhash", "--num-hashes", "64"], "--num-hashes applies to --method minhash"),
    (["dedup", "people.csv", "--threshold", "1.5"], "argument --threshold: must be between 0 and 1, not 1.5"),
    (["dedup", "people.csv", "--num-hashes", "0"], "argument --num-hashes: must be between 1 and 65536, not 0"),
    ([*LINK, "--threshold", "high"], "argument --threshold: not a number: 'high'"),
    (["link", "people.csv", "people.csv", "--on", "nmae"], "people.csv: no column 'nmae' (columns: id, name)"),
    ([*LINK, "--id", "key"], "people.csv: no column 'key'"),
    ([*LINK, "--block", "city"], "people.csv: no column 'city'"),
    ([*LINK, "--scorer", "soundex"], "argument --scorer: unknown scorer 'soundex'"),
    ([*LINK, "--method", "mean", "--weights", "1,2"], "--weights has 2 values for 1 fields in --on"),
    ([*LINK, "--weights", "-1"], "argument --weights: weights must be finite, not negative and not all zero"),
    ([*LINK, "--workers", "0"], "argument --workers: must be a positive number or -1"),
    (["link", "ragged.csv", "people.csv", "--on", "name"], "ragged.csv line 3: 3 fields, the header has 2"),
    (["link", "latin1.csv", "people.csv", "--on", "name"], "latin1.csv: not UTF-8 text"),
    (["link", "bad.jsonl", "people.csv", "--on", "name"], "bad.jsonl line 2: not JSON"),
    (["link", "broken.parquet", "people.csv", "--on", "name"], "cannot read broken.parquet as Parquet"),
    (["link", "people.txt", "people.csv", "--on", "name"], "people.txt: unknown table format"),
    ([*LINK, "--out", "nowhere/out.csv"], "cannot write nowhere/out.csv: no directory 'nowhere'"),
    ([*LINK, "--out", "out.xlsx"], "out.xlsx: unknown table format"),
    (["search", "x", "absent.txt"], "cannot read absent.txt: No such file or directory"),
    (["search", "x", "people.csv", "--limit", "0"], "argument --limit: must be at least 1, not 0"),
    (["search", "x", "people.csv", "--scorer", "levenshtein.distance"], "unknown scorer 'levenshtein.distance' ("),
    (["search", "x", "people.csv", "--score-cutoff", "-1"], "argument --score-cutoff: must be a finite number"),
    (["search", "x", "people.csv", "--score-cutoff", "inf"], "argument --score-cutoff: must be a finite number"),
    (["search", "x", "people.csv", "--threshold", "0.5"], "unrecognized arguments: --threshold"),
    ([*LINK, "--method", "mean", "--scorer", "WRatio,Levenshtein.distance"], "'Levenshtein.distance' is a distance"),
    (["link", "people.csv"], "give the fields to compare with --on (or a saved model with --use-model)"),
    ([*LINK, "--on", "name,name"], "--on names the column 'name' twice"),
    ([*LINK, "--method", "mean", "--on", "name,name"], "--on names the column 'name' twice"),
    ([*LINK, "--scorer", "levenshtein"], "--scorer applies to --method mean only"),
    ([*LINK, "--clusters", "c.csv"], "--clusters is for one table (deduplication)"),
    ([*LINK, "--use-model", "people.csv"], "people.csv: not a vornkit linkage model (not JSON"),
    ([*LINK, "--use-model", "absent.json"], "cannot read absent.json: No such file or directory"),
    (["link", "people.csv", "--on", "name", "--method", "mean"], "--method mean links two tables"),
    ([*LINK, "--method", "mean", "--model", "m.json"], "--model applies to --method fellegi-sunter only"),
    (["merge"], "argument COMMAND: invalid choice: 'merge'"),
]


@pytest.mark.parametrize(("args", "message"), BAD_INPUT, ids=[m[:40] for _, m in BAD_INPUT])
def test_bad_input(files, args, message):
    done = vornkit(*args, "--out", "out.csv", cwd=files) if "--out" not in args else vornkit(*args, cwd=files)
    assert done.returncode == 2, done.stderr
    assert done.stdout == ""
    assert len(done.stderr.splitlines()) == 1 and "Traceback" not in done.stderr
    assert message in done.stderr
    # The output file is neither replaced nor joined by temporary files.
    assert (files / "out.csv").read_text(encoding="utf-8") == "kept\n"
    assert not [p for p in os.listdir(files) if p.endswith(".tmp")]


def test_interrupted_write_leaves_no_file(files, monkeypatch, capsys):
    from vornkit import _tables

    def interrupted(file, *args):
        file.write("partial")
        raise KeyboardInterrupt

    monkeypatch.setattr(_tables, "_write_text", interrupted)
    out = files / "new.csv"
    assert cli.main([*(str(files / a) if a.endswith(".csv") else a for a in LINK), "--out", str(out)]) == 130
    assert capsys.readouterr().err.strip() == "vornkit: interrupted"
    assert sorted(os.listdir(files)) == ["bad.jsonl", "broken.parquet", "latin1.csv", "out.csv", "people.csv",
                                         "ragged.csv"]  # fmt: skip


def test_ctrl_c_stops_a_long_link(tmp_path):
    rng = random.Random(1)
    rows = [{"id": k, "name": "".join(rng.choices("abcdefghij", k=24))} for k in range(40_000)]
    table = write(tmp_path / "big.csv", rows)
    command = [sys.executable, "-m", "vornkit", "link", table, table, "--on", "name", "--method", "mean",
               "--scorer", "levenshtein", "--out", tmp_path / "pairs.csv"]  # fmt: skip
    process = subprocess.Popen(list(map(str, command)), stderr=subprocess.PIPE, text=True)
    try:
        time.sleep(3)
        assert process.poll() is None, "the job ended before it could be interrupted"
        started = time.monotonic()
        process.send_signal(signal.SIGINT)
        _, stderr = process.communicate(timeout=30)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    assert process.returncode == 130
    assert time.monotonic() - started < 5
    assert stderr.strip() == "vornkit: interrupted"
    assert sorted(os.listdir(tmp_path)) == ["big.csv"]


@pytest.mark.parametrize("command", [[], ["dedup"], ["link"], ["search"]])
def test_help(command):
    done = vornkit(*command, "--help")
    assert done.returncode == 0 and done.stdout.startswith(f"usage: vornkit {' '.join(command)}".rstrip())


def test_console_script():
    script = Path(sys.executable).with_name("vornkit")
    if not script.exists():
        pytest.skip("the vornkit script is installed beside the interpreter only in a virtual environment")
    done = subprocess.run([script, "search", "--help"], capture_output=True, text=True)
    assert done.returncode == 0 and "CHOICES-FILE" in done.stdout
