"""Blocking rules, their counts and pairs against brute force, automatic
rules on generated people, and indexed pair scoring against vorn."""

import itertools
import math
import random

import harness
import numpy as np
import pytest
import vorn

import vornkit
from vornkit import _blocking
from vornkit._blocking import phonetic_key

# scorer, scorer_kwargs, the vorn call for one pair
SCORERS = [
    (vorn.levenshtein_distance, None, vorn.levenshtein_distance),
    (vorn.levenshtein_similarity, None, vorn.levenshtein_similarity),
    (vorn.jaro_winkler_similarity, None, vorn.jaro_winkler_similarity),
    (vorn.jaccard_similarity, {"n": 2}, lambda a, b: vorn.jaccard_similarity(a, b, 2)),
    (vorn.jaccard_word_similarity, None, vorn.jaccard_word_similarity),
    (vorn.minhash_similarity, {"shingle_size": 2, "num_hashes": 16}, lambda a, b: vorn.minhash_similarity(a, b, 2, 16)),
    (vorn.simhash_similarity_default, None, vorn.simhash_similarity_default),
    (vorn.tfidf_similarity, None, vorn.tfidf_similarity),
]
ALPHABETS = ["ab ", "abcdefgh ", "aé€𝄞 b", "ÄäÖöß .,"]


def random_texts(rng, n):
    texts = []
    for _ in range(n):
        roll = rng.random()
        if roll < 0.08:
            texts.append(None)
        elif roll < 0.12:
            texts.append("")
        else:
            alphabet = rng.choice(ALPHABETS)
            length = rng.choice([1, 3, 8, 20, 63, 64, 65, 130])
            texts.append("".join(rng.choice(alphabet) for _ in range(length)))
    return texts


@pytest.mark.parametrize("scorer,kwargs,pair_fn", SCORERS, ids=[s[0].__name__ for s in SCORERS])
@pytest.mark.parametrize("workers", [1, 2])
def test_score_pairs_is_vorn_bit_for_bit(scorer, kwargs, pair_fn, workers):
    rng = random.Random(len(scorer.__name__) * 7 + workers)
    left, right = random_texts(rng, 60), random_texts(rng, 45)
    # Enough pairs for several chunks and runs of the Levenshtein gather.
    i = np.array([rng.randrange(60) for _ in range(3000)], dtype=np.int64)
    j = np.array([rng.randrange(45) for _ in range(3000)], dtype=np.int64)
    got = vornkit.score_pairs(left, right, i, j, scorer=scorer, scorer_kwargs=kwargs, workers=workers)
    assert got.dtype == np.float64 and got.shape == (3000,)
    for k, (a, b) in enumerate(zip(i.tolist(), j.tolist())):
        x, y = left[a], right[b]
        if not x or not y:
            assert math.isnan(got[k]), (x, y)
        else:
            assert got[k] == float(pair_fn(x, y)), (x, y, got[k])


def test_score_pairs_of_one_column_with_itself():
    texts = ["anna", "ana", None, "hannah", "", "anne-marie"]
    i, j = np.array([0, 0, 1, 3, 2, 4, 5]), np.array([1, 3, 3, 5, 0, 1, 0])
    got = vornkit.score_pairs(texts, None, i, j, scorer=vorn.jaro_winkler_similarity)
    expected = [
        vorn.jaro_winkler_similarity(texts[a], texts[b]) if texts[a] and texts[b] else math.nan for a, b in zip(i, j)
    ]
    np.testing.assert_array_equal(got, expected)


@pytest.mark.parametrize(
    "i,j,error,message",
    [
        ([0, 3], [0, 0], IndexError, r"i\[1\] = 3 is out of range for 3 strings"),
        ([0, -1], [0, 0], IndexError, r"i\[1\] = -1 is out of range"),
        ([0, 0], [2, 0], IndexError, r"j\[0\] = 2 is out of range for 2 strings"),
        ([0, 1], [0], ValueError, "same length"),
    ],
)
def test_score_pairs_refuses_bad_row_numbers(i, j, error, message):
    with pytest.raises(error, match=message):
        vornkit.score_pairs(["a", "b", "c"], ["a", "b"], i, j, scorer=vorn.levenshtein_distance)


def test_score_pairs_refuses_a_foreign_scorer():
    with pytest.raises(TypeError, match="vorn's pairwise scoring functions"):
        vornkit.score_pairs(["a"], ["a"], [0], [0], scorer=lambda a, b: 1.0)


@pytest.mark.parametrize("workers", [1, 2])
@pytest.mark.parametrize("scorer", [vorn.levenshtein_similarity, vorn.jaro_winkler_similarity])
def test_ctrl_c_stops_score_pairs(scorer, workers):
    rng = random.Random(3)
    long = ["".join(rng.choice("abcdé ") for _ in range(3000)) for _ in range(50)]
    i = np.arange(300_000) % 50
    j = (i * 7 + 1) % 50
    harness.assert_interrupted_quickly(lambda: vornkit.score_pairs(long, None, i, j, scorer=scorer, workers=workers))


# ---- key functions ----


@pytest.mark.parametrize(
    "value,code",
    [
        ("Robert", "R163"),
        ("Rupert", "R163"),
        ("Ashcraft", "A261"),  # H between equal classes does not separate them
        ("Tymczak", "T522"),
        ("Pfister", "P236"),  # the first letter's class absorbs what follows
        ("Lee", "L"),
        ("Müller", "M46"),
        ("O'Brien", "O165"),
        ("123", None),
    ],
)
def test_phonetic_key(value, code):
    assert phonetic_key(value) == code


def brute_force_pairs(left, right, key):
    """The pairs whose keys (key(row) -> hashable or None) are equal."""
    if right is None:
        keys = [key(r) for r in left]
        return {
            (a, b) for a, b in itertools.combinations(range(len(left)), 2) if keys[a] is not None and keys[a] == keys[b]
        }
    left_keys, right_keys = [key(r) for r in left], [key(r) for r in right]
    return {
        (a, b)
        for a in range(len(left))
        for b in range(len(right))
        if left_keys[a] is not None and left_keys[a] == right_keys[b]
    }


def rows_of(table):
    return [dict(zip(table, values)) for values in zip(*table.values())]


def skewed_table(rng, n):
    """Values with a heavy hitter, missing and empty values, and words in
    either order."""
    surnames = ["smith"] * 6 + ["jones", "brown", "müller", "ng", None, ""]
    return {
        "surname": [rng.choice(surnames) for _ in range(n)],
        "town": [rng.choice(["york", "yorkton", "leeds", "ely", None]) for _ in range(n)],
        "name": [rng.choice(["ann lee", "lee ann", "bo", "ann", ""]) for _ in range(n)],
    }


RULES = [
    (vornkit.BlockingRule(("surname",)), lambda r: r["surname"] or None),
    (
        vornkit.BlockingRule(("surname", "town"), keys=("exact", "first:3")),
        lambda r: (r["surname"], r["town"][:3]) if r["surname"] and r["town"] else None,
    ),
    (vornkit.BlockingRule(("name",), keys=("sorted_tokens",)), lambda r: " ".join(sorted(r["name"].split())) or None),
    (
        vornkit.BlockingRule("surname", keys=("phonetic",)),
        lambda r: phonetic_key(r["surname"]) if r["surname"] else None,
    ),
]


@pytest.mark.parametrize("rule,key", RULES, ids=[str(r[0]) for r in RULES])
@pytest.mark.parametrize("dedup", [True, False], ids=["dedup", "link"])
def test_exact_rule_pairs_and_estimate_match_brute_force(rule, key, dedup):
    rng = random.Random(5)
    left = skewed_table(rng, 70)
    right = None if dedup else skewed_table(rng, 50)
    expected = brute_force_pairs(rows_of(left), None if dedup else rows_of(right), key)
    i, j = vornkit.candidate_pairs(left, right, [rule])
    assert i.dtype == j.dtype == np.int64
    assert set(zip(i.tolist(), j.tolist())) == expected
    assert len(i) == len(expected)  # each pair once
    assert list(zip(i, j)) == sorted(zip(i, j))
    assert vornkit.estimate_comparisons([rule], left, right) == [len(expected)]


def test_union_of_rules_names_each_pair_once():
    rng = random.Random(9)
    left = skewed_table(rng, 80)
    rules = [r for r, _ in RULES]
    i, j = vornkit.candidate_pairs(left, None, rules)
    expected = set().union(*(brute_force_pairs(rows_of(left), None, key) for _, key in RULES))
    assert len(i) == len(expected) and set(zip(i.tolist(), j.tolist())) == expected
    assert (i < j).all()


def test_large_groups_are_expanded_in_chunks(monkeypatch):
    """A key shared by many records goes through several expansion chunks."""
    monkeypatch.setattr("vornkit._blocking._CHUNK_PAIRS", 7)
    table = {"k": ["a"] * 9 + ["b"] * 4 + [None] * 3}
    i, j = vornkit.candidate_pairs(table, None, [vornkit.BlockingRule("k")])
    assert len(i) == 36 + 6 and len(set(zip(i.tolist(), j.tolist()))) == 42
    right = {"k": ["a"] * 5 + ["b"]}
    i, j = vornkit.candidate_pairs(table, right, [vornkit.BlockingRule("k")])
    assert len(i) == 9 * 5 + 4


def test_limit_refuses_before_making_pairs_and_names_the_rule():
    table = {"surname": ["smith"] * 300 + ["jones"] * 5, "town": ["york"] * 305}
    rules = [vornkit.BlockingRule(("town", "surname"), keys=("exact", "first:2")), vornkit.BlockingRule("town")]
    with pytest.raises(vornkit.CandidateLimitError, match=r"first:2\(surname\) would make about 44,860") as caught:
        vornkit.candidate_pairs(table, None, rules, max_pairs=1000)
    assert isinstance(caught.value, MemoryError) and isinstance(caught.value, ValueError)
    # Each rule fits the limit, their union does not.
    split = [vornkit.BlockingRule("surname", keys=("first:1",)), vornkit.BlockingRule("town")]
    with pytest.raises(vornkit.CandidateLimitError, match="up to town make more than 45,000"):
        vornkit.candidate_pairs(
            {"surname": ["s"] * 300 + ["j"] * 5, "town": ["y"] * 200 + ["z"] * 105}, None, split, max_pairs=45000
        )


@pytest.mark.parametrize(
    "arguments,message",
    [
        ({"columns": ()}, "one or more column names"),
        ({"columns": ("a", "b"), "keys": ("exact",)}, "1 key functions for 2 columns"),
        ({"columns": ("a",), "keys": ("first:0",)}, "unknown key function 'first:0'"),
        ({"columns": ("a",), "keys": ("soundex",)}, "unknown key function 'soundex'"),
        ({"columns": ("a",), "kind": "fuzzy"}, "kind must be"),
        ({"columns": ("a",), "kind": "minhash", "rows": 0}, "rows must be a positive int"),
    ],
)
def test_bad_rules_are_refused_when_made(arguments, message):
    with pytest.raises(ValueError, match=message):
        vornkit.BlockingRule(**arguments)


@pytest.mark.parametrize(
    "text,rule",
    [
        ("surname", vornkit.BlockingRule(("surname",))),
        (
            "phonetic(surname) & first:4(birth date)",
            vornkit.BlockingRule(("surname", "birth date"), ("phonetic", "first:4")),
        ),
        ("sorted_tokens(name)&town", vornkit.BlockingRule(("name", "town"), ("sorted_tokens", "exact"))),
        ("minhash(given + surname)", vornkit.BlockingRule.minhash(("given", "surname"))),
        (
            "minhash(given + surname; 3-grams, 10 bands of 2)",
            vornkit.BlockingRule.minhash(("given", "surname"), shingle_size=3, bands=10, rows=2),
        ),
        (
            "minhash(given; 2-grams, 8 bands of 7, buckets up to 60)",
            vornkit.BlockingRule.minhash("given", shingle_size=2, bands=8, rows=7, max_group=60),
        ),
    ],
)
def test_rules_are_written_and_read_back(text, rule):
    assert vornkit.BlockingRule.parse(text) == rule
    assert vornkit.BlockingRule.parse(str(rule)) == rule


@pytest.mark.parametrize("text", ["soundex(surname)", "surname & ", "first:x(a)"])
def test_unreadable_rules_are_refused(text):
    with pytest.raises(ValueError, match="unknown key function|empty term"):
        vornkit.BlockingRule.parse(text)


def test_tables_are_checked():
    with pytest.raises(ValueError, match="different lengths"):
        vornkit.candidate_pairs({"a": ["x"], "b": ["x", "y"]}, None, [vornkit.BlockingRule("a")])
    with pytest.raises(KeyError, match="right table has no column 'a'"):
        vornkit.candidate_pairs({"a": ["x"]}, {"b": ["x"]}, [vornkit.BlockingRule("a")])


def test_minhash_rule_meets_records_with_a_typo_in_every_key():
    left = {"first": ["katherine", "jonathan", "alexandra"], "last": ["worthington", "blackwood", "fitzgerald"]}
    right = {"first": ["katharine", "jonathon", "alexandria"], "last": ["worthingten", "blackwod", "fitzgeralt"]}
    exact = [vornkit.BlockingRule("first"), vornkit.BlockingRule("last")]
    assert len(vornkit.candidate_pairs(left, right, exact)[0]) == 0
    fuzzy = vornkit.BlockingRule.minhash(("first", "last"), bands=16, rows=2)
    i, j = vornkit.candidate_pairs(left, right, [fuzzy])
    assert {(0, 0), (1, 1), (2, 2)} <= set(zip(i.tolist(), j.tolist()))
    [estimate] = vornkit.estimate_comparisons([fuzzy], left, right)
    assert estimate >= len(i)  # an upper bound: a pair may share several bands


def test_minhash_rule_skips_crowded_buckets_and_records_without_text():
    table = {"name": ["ann"] * 30 + ["zygmunt"] * 2 + [None, "", None], "initial": ["a"] * 32 + [None, None, ""]}
    crowded = vornkit.BlockingRule.minhash(("name", "initial"), bands=4, rows=2, max_group=10)
    i, j = vornkit.candidate_pairs(table, None, [crowded])
    assert list(zip(i.tolist(), j.tolist())) == [(30, 31)]


# ---- automatic rules on generated people ----

GIVEN = [
    "james",
    "mary",
    "john",
    "patricia",
    "robert",
    "jennifer",
    "michael",
    "linda",
    "william",
    "elizabeth",
    "david",
    "barbara",
    "richard",
    "susan",
    "joseph",
    "jessica",
    "thomas",
    "sarah",
    "charles",
    "karen",
]
SURNAMES = [
    "smith",
    "johnson",
    "williams",
    "brown",
    "jones",
    "garcia",
    "miller",
    "davis",
    "rodriguez",
    "martinez",
    "hernandez",
    "lopez",
    "gonzalez",
    "wilson",
    "anderson",
    "thomas",
    "taylor",
    "moore",
    "jackson",
    "martin",
    "lee",
    "perez",
    "thompson",
    "white",
    "harris",
    "sanchez",
    "clark",
    "ramirez",
    "lewis",
    "robinson",
]


def typo(rng, value):
    """One deletion, substitution or swap of neighbours."""
    if not value or len(value) < 2:
        return value
    k = rng.randrange(len(value) - 1)
    kind = rng.randrange(3)
    if kind == 0:
        return value[:k] + value[k + 1 :]
    if kind == 1:
        return value[:k] + rng.choice("abcdefghijklmnopqrstuvwxyz") + value[k + 1 :]
    return value[:k] + value[k + 1] + value[k] + value[k + 2 :]


def people(seed, n):
    """n people in households (shared surname, street and postcode), and a
    corrupted copy of each: typos, missing fields, a new address."""
    rng = random.Random(seed)
    rows = []
    while len(rows) < n:
        surname = rng.choice(SURNAMES) + rng.choice(["", "", "son", "ley", "ford", "ski"])
        street = f"{rng.randrange(1, 300)} {rng.choice(SURNAMES)} {rng.choice(['street', 'road', 'lane'])}"
        postcode = f"{rng.randrange(1000, 9999)}"
        for _ in range(rng.choice([1, 1, 2, 3, 4])):
            birth = f"{rng.randrange(1930, 2010)}-{rng.randrange(1, 13):02d}-{rng.randrange(1, 29):02d}"
            rows.append([rng.choice(GIVEN), surname, birth, street, postcode])
    rows = rows[:n]
    copies = []
    for row in rows:
        copy = list(row)
        for _ in range(rng.choice([0, 1, 1, 2, 3])):
            field = rng.randrange(5)
            roll = rng.random()
            if roll < 0.6:
                copy[field] = typo(rng, copy[field])
            elif roll < 0.8:
                copy[field] = None
            elif field in (3, 4):  # moved
                copy[3] = f"{rng.randrange(1, 300)} {rng.choice(SURNAMES)} road"
                copy[4] = f"{rng.randrange(1000, 9999)}"
        copies.append(copy)
    names = ["given_name", "surname", "birth", "street", "postcode"]
    return {c: [r[k] for r in rows] for k, c in enumerate(names)}, {
        c: [r[k] for r in copies] for k, c in enumerate(names)
    }


@pytest.mark.parametrize("dedup", [False, True], ids=["link", "dedup"])
def test_automatic_rules_find_nearly_every_true_match_within_budget(dedup):
    n = 3000
    left, right = people(11, n)
    if dedup:
        table = {c: left[c] + right[c] for c in left}  # record k and k + n are one person
        truth = {(k, k + n) for k in range(n)}
        arguments = (table, None)
    else:
        truth = {(k, k) for k in range(n)}
        arguments = (left, right)
    budget = 20
    plan = vornkit.auto_blocking_rules(*arguments, list(left), budget_per_record=budget, sample_size=600)
    assert len(plan) >= 2 and any(rule.kind == "minhash" for rule in plan)
    i, j = vornkit.candidate_pairs(*arguments, plan)
    found = set(zip(i.tolist(), j.tolist()))
    recall = len(truth & found) / len(truth)
    records = 2 * n if dedup else n
    assert recall >= 0.97, (recall, [str(r) for r in plan])
    assert len(found) <= budget * records
    assert sum(plan.estimated_pairs) <= budget * records
    assert plan.pseudo_matches > 300 and abs(plan.estimated_recall - recall) < 0.03
    # The chosen MinHash rule's band codes, kept from the choice, give the pairs fresh ones give.
    coded = _blocking._Columns(*arguments)
    kept = _blocking.choose_rules(coded, list(left), budget, sample_size=600)
    assert list(kept) == list(plan) and coded._bands
    assert all(np.array_equal(a, b) for a, b in zip(_blocking.rule_pairs(coded, kept, 1), (i, j)))
    assert not coded._bands  # taken once, not held on


@pytest.mark.parametrize("dedup", [True, False], ids=["dedup", "link"])
@pytest.mark.parametrize("spread", [1, 1 << 40], ids=["dense", "sparse"])  # codes looked up, or searched
def test_sampled_pairs_of_a_key_are_those_with_a_sampled_record(dedup, spread):
    rng = np.random.default_rng(spread % 97)
    n_left, n_right = 300, 0 if dedup else 200
    key = rng.integers(-1, 40, n_left + n_right) * spread
    key[key < 0] = -1
    table = {"k": ["x"] * n_left}
    data = _blocking._Columns(table, None if dedup else {"k": ["x"] * n_right})
    sample = np.sort(rng.choice(n_left, 30, replace=False))
    got = _blocking._sample_pair_codes([key], data, sample)
    width = n_left if dedup else n_right
    left, right = key[:n_left], key if dedup else key[n_left:]
    expected = {
        (min(a, b) * width + max(a, b)) if dedup else a * width + b
        for a in sample.tolist()
        for b in range(len(right))
        if left[a] >= 0 and left[a] == right[b] and not (dedup and a == b)
    }
    assert got.tolist() == sorted(expected)
    assert np.array_equal(_blocking._sample_pair_codes([_blocking._dense(key)], data, sample), got)


@pytest.mark.parametrize(
    "left,right,rules",
    [
        ({"a": ["x", "y", "z"], "b": [None, "", None]}, None, []),  # nothing shared: no rule
        ({"a": ["x", "y", "x"], "b": [None, None, None]}, None, ["a"]),  # no pseudo-match: the cheap rules
        ({"a": []}, None, []),
        ({"a": ["x"]}, {"a": []}, []),
    ],
)
def test_automatic_rules_on_tables_with_little_in_them(left, right, rules):
    plan = vornkit.auto_blocking_rules(left, right, list(left))
    assert [str(rule) for rule in plan] == rules
    assert plan.pseudo_matches == 0 and math.isnan(plan.estimated_recall)
