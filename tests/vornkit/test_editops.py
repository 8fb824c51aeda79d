"""Levenshtein and Indel edit scripts against RapidFuzz 3.14's, and the result types' conversions."""

import random

import pytest
import rapidfuzz.distance as rd
from fuzz_inputs import pairs

from vornkit import distance
from vornkit.distance import Editop, Editops, Opcode, Opcodes

PAIRS = pairs(seed=11, count=30)


def _long_pairs():
    """Lengths across several 64-character blocks, with scattered edits."""
    rng = random.Random(5)
    result = []
    for n in (63, 64, 65, 128, 129, 300, 700):
        a = "".join(rng.choices("abcé中", k=n))
        b = list(a)
        for _ in range(n // 5):
            b[rng.randrange(len(b))] = rng.choice("abcé中x")
        del b[rng.randrange(len(b)) :][: rng.randint(0, 9)]
        result.append((a, "".join(b)))
        result.append(("".join(b), a))
    return result


@pytest.mark.parametrize("metric", ["Levenshtein", "Indel"])
def test_editops_and_opcodes_equal_rapidfuzz(metric):
    ours, theirs = getattr(distance, metric), getattr(rd, metric)
    wrong = []
    for a, b in PAIRS + _long_pairs():
        e, theirs_e = ours.editops(a, b), theirs.editops(a, b)
        o, theirs_o = ours.opcodes(a, b), theirs.opcodes(a, b)
        same = (
            e.as_list() == theirs_e.as_list()
            and (e.src_len, e.dest_len) == (theirs_e.src_len, theirs_e.dest_len)
            and o.as_list() == theirs_o.as_list()
            and e.as_matching_blocks() == [tuple(m) for m in theirs_e.as_matching_blocks()]
            and o.as_matching_blocks() == [tuple(m) for m in theirs_o.as_matching_blocks()]
        )
        if not same:
            wrong.append((a, b))
        # The script is as long as the distance and makes s2 of s1, both ways round.
        assert len(e) == ours.distance(a, b)
        assert e.apply(a, b) == b and o.apply(a, b) == b
        assert e.inverse().apply(b, a) == a and o.inverse().apply(b, a) == a
        assert o.as_editops() == e and e.as_opcodes() == o
    assert wrong == []


@pytest.mark.parametrize(("n", "alphabet"), [(2500, "abcd"), (3000, "ab"), (4000, "aé中😀x")])
def test_large_pairs_split_like_rapidfuzz(n, alphabet):
    """Pairs whose matrix is large are aligned in halves (Hirschberg); the halves' choice must match too."""
    rng = random.Random(n)
    a, b = "".join(rng.choices(alphabet, k=n)), "".join(rng.choices(alphabet, k=n + 17))
    for metric in ("Levenshtein", "Indel"):
        ops = getattr(distance, metric).editops(a, b)
        assert ops.as_list() == getattr(rd, metric).editops(a, b).as_list()
        assert ops.apply(a, b) == b


@pytest.mark.parametrize(
    ("a", "b", "expected"),
    [
        ("", "", []),
        ("", "ab", [("insert", 0, 0), ("insert", 0, 1)]),
        ("ab", "", [("delete", 0, 0), ("delete", 1, 0)]),
        ("😀a", "😀b", [("replace", 1, 1)]),  # positions count code points, not UTF-8 bytes
        ("x\U0001d518y", "xy", [("delete", 1, 1)]),
    ],
)
def test_editops_boundaries(a, b, expected):
    ops = distance.Levenshtein.editops(a, b)
    assert ops.as_list() == expected
    assert (ops.src_len, ops.dest_len) == (len(a), len(b))
    assert ops.as_list() == rd.Levenshtein.editops(a, b).as_list()


def test_result_types():
    ops = distance.Indel.editops("spam", "spa m!")
    assert isinstance(ops, Editops) and isinstance(ops[0], Editop)
    assert ops[0] == ("insert", 3, 3) and ops[0].dest_pos == 3
    assert ops[1:].as_list() == [("insert", 4, 5)] and ops[1:].src_len == 4
    assert Editops(ops.as_list(), 4, 6) == ops
    assert repr(ops) == "Editops([('insert', 3, 3), ('insert', 4, 5)], src_len=4, dest_len=6)"
    codes = ops.as_opcodes()
    assert isinstance(codes, Opcodes) and isinstance(codes[0], Opcode)
    assert codes.as_list() == [
        ("equal", 0, 3, 0, 3),
        ("insert", 3, 3, 3, 4),
        ("equal", 3, 4, 4, 5),
        ("insert", 4, 4, 5, 6),
    ]


@pytest.mark.parametrize(
    ("kind", "items", "src_len", "dest_len"),
    [
        (Editops, [("insert", 2, 0), ("delete", 0, 1)], 3, 3),  # positions going back
        (Editops, [("replace", 3, 0)], 3, 1),  # past the end of s1
        (Editops, [("insert", 0, 1)], 0, 1),  # past the end of s2
        (Editops, [("swap", 0, 0)], 1, 1),
        (Opcodes, [("equal", 0, 1, 0, 1), ("delete", 2, 3, 1, 1)], 3, 1),  # a gap
        (Opcodes, [("replace", 0, 2, 0, 1)], 2, 1),
        (Opcodes, [("equal", 0, 1, 0, 1)], 2, 1),  # s1 not covered
    ],
)
def test_inconsistent_edits_are_refused(kind, items, src_len, dest_len):
    """Conversions walk the edits in order; edits out of order would make them loop or read past a string."""
    with pytest.raises(ValueError, match="do not fit"):
        kind(items, src_len, dest_len)


def test_processor_and_errors():
    assert distance.Levenshtein.editops("AB", "ab", processor=str.lower).as_list() == []
    with pytest.raises(TypeError, match="score_cutoff"):
        distance.Levenshtein.editops("a", "b", score_cutoff=1)
    with pytest.raises(TypeError, match="None"):
        distance.Indel.editops(None, "b")
    with pytest.raises(TypeError, match="must be str"):
        distance.Indel.opcodes("a", 3)
