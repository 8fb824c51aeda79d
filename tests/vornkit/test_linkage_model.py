"""The linkage model's parts against hand-computed cases: agreement levels, field kinds,
u from value counts, EM, term-frequency weights, saving and loading."""

import json
import math

import numpy as np
import pytest

import vornkit
from vornkit import _comparisons, _fellegi_sunter
from vornkit._comparisons import Field
from vornkit._fellegi_sunter import LinkageModel

# ---------------------------------------------------------------- levels


def pair_levels(field, left, right):
    column = _comparisons.encode(field, left, right)
    i = np.arange(len(left))
    return _comparisons.levels(column, i, i, workers=1).tolist()


NAME = Field("name", kind="name", scorer="jaro_winkler", levels=(0.92, 0.80), term_frequency=True)
CODE = Field("zip", kind="code", scorer="levenshtein_distance", levels=(1, 2), term_frequency=True)
DATE = Field("dob", kind="date", term_frequency=True, date_layout="dd-mm-yyyy")


@pytest.mark.parametrize(
    ("field", "pairs", "expected"),
    [
        # jaro_winkler: martha/marhta 0.961, dwayne/duane 0.84, dixon/dicksonx 0.813, anna/zed 0
        (NAME, [("anna", "anna"), ("martha", "marhta"), ("dwayne", "duane"), ("anna", "zed"), ("anna", None)],
         [3, 2, 1, 0, -1]),
        (NAME, [("dixon", "dicksonx"), (None, None)], [1, -1]),
        # Levenshtein distance 0, 1, 2, 3; the bounds are inclusive
        (CODE, [("4223", "4223"), ("4223", "4224"), ("4223", "4232"), ("4223", "9993"), (None, "1")],
         [3, 2, 1, 0, -1]),
        # exact after normalising the layout, day and month swapped, one edit, same year, else, unparsed
        (DATE, [("1/2/1990", "01-02-1990"), ("01/02/1990", "02/01/1990"), ("01/02/1990", "01/03/1990"),
                ("01/02/1990", "31/12/1990"), ("01/02/1990", "31/12/1991"), ("unknown", "unknown"),
                ("unknown", "01/02/1990")],
         [3, 2, 2, 1, 0, 3, 0]),
    ],
)  # fmt: skip
def test_levels(field, pairs, expected):
    assert pair_levels(field, [a for a, _ in pairs], [b for _, b in pairs]) == expected


def test_each_distinct_pair_scored_once_gives_each_pair_its_own_level():
    # Many rows share few values: levels come back to the right rows.
    left = ["anna", "bob", "anna", "zoe"] * 50
    right = ["ana", "bob", "bobby", "zoey"] * 50
    field = NAME
    expected = [(3 if a == b else 2 if vornkit_score(a, b) >= 0.92 else 1 if vornkit_score(a, b) >= 0.8 else 0)
                for a, b in zip(left, right)]  # fmt: skip
    assert pair_levels(field, left, right) == expected


def vornkit_score(a, b):
    import vorn

    return vorn.jaro_winkler_similarity(a, b)


def test_group_levels():
    # How many members agree at their two highest levels, scaled to the group's size (rounded
    # half up), over the members present; -1 when none is present.
    members = [NAME, CODE, Field("city", kind="name")]
    levels = np.array([[3, 3, 3], [3, -1, 0], [0, 0, 0], [-1, -1, -1], [2, 1, 3], [2, -1, -1]], dtype=np.int8)
    assert _comparisons.group_levels(levels, members).tolist() == [3, 2, 0, -1, 2, 3]
    group = Field("name+zip+city", kind="group", scorer=_comparisons.GROUP_COUNT, members=("name", "zip", "city"))
    assert group.level_count == 4 and group.level_names()[-1] == "3 of 3 agree"
    # Which members agree: bit k for member k (a missing member does not agree).
    by_which = _comparisons.group_levels(levels, members, _comparisons.GROUP_WHICH)
    assert by_which.tolist() == [7, 1, 0, -1, 5, 1]
    group = Field("name+zip+city", kind="group", members=("name", "zip", "city"))
    assert group.level_count == 8 and group.level_names()[5] == "name & city" and group.level_names()[0] == "none agree"
    large = Field("g", kind="group", members=tuple("abcdefg"))
    assert large.scorer == _comparisons.GROUP_COUNT and large.level_count == 8
    with pytest.raises(ValueError, match="cannot compare by"):
        Field("g", kind="group", scorer=_comparisons.GROUP_WHICH, members=tuple("abcdefg"))


@pytest.mark.parametrize(
    ("values", "kind", "layout"),
    [
        (["anna", "bob", "mary-jane"], "name", None),
        (["4223", "2000", "12-34"], "code", None),
        (["19900102", "20011231"], "date", "yyyymmdd"),
        (["1990-01-02", "2001-12-31", None], "date", "yyyy-mm-dd"),
        (["31/01/1990", "13/12/2001"], "date", "dd-mm-yyyy"),
        (["01/31/1990", "12/13/2001"], "date", "mm-dd-yyyy"),
        (["12 high street north", "3 mill lane west side"], "text", None),
        ([None, None], "name", None),
    ],
)
def test_detect_kind(values, kind, layout):
    assert _comparisons.detect_kind(values, []) == (kind, layout)


@pytest.mark.parametrize(
    ("arguments", "message"),
    [
        ({"kind": "colour"}, "kind must be one of"),
        ({"scorer": "soundex"}, "unknown scorer 'soundex'"),
        ({"scorer": "Levenshtein.similarity"}, r"not a linkage scorer .* use Levenshtein.normalized_similarity or Lev"),
        ({"scorer": "JaroWinkler.distance"}, r"not a linkage scorer .* use JaroWinkler.normalized_similarity$"),
        ({"scorer": "jaro_winkler", "levels": (0.8, 0.9)}, "levels must be decreasing similarities"),
        ({"scorer": "levenshtein_distance", "levels": (2, 1)}, "levels must be increasing distances"),
    ],
)
def test_bad_field(arguments, message):
    with pytest.raises(ValueError, match=message):
        Field("x", **arguments)


# ---------------------------------------------------------------- u, EM, term frequencies


@pytest.mark.parametrize(
    ("left", "right", "expected"),
    [
        (["a", "a", "b"], ["a", "b", "b", None], (2 * 1 + 1 * 2) / (3 * 3)),
        (["a", "a", "b", None], None, (2 * 1) / (3 * 2)),  # one table: different records only
        ([None], ["a"], 0.0),
    ],
)
def test_exact_u(left, right, expected):
    column = _comparisons.encode(NAME, left, right)
    assert _fellegi_sunter.exact_u(column, right is None) == pytest.approx(expected)


def test_em_recovers_a_two_field_mixture():
    # Expected pattern counts of a mixture with known m, u and prior: EM with u fixed
    # finds m and the prior again (two binary fields: three unknowns, three free counts).
    prior, m1, m2, u1, u2 = 0.2, [0.1, 0.9], [0.25, 0.75], [0.95, 0.05], [0.9, 0.1]
    patterns = np.array([[a, b] for a in (0, 1) for b in (0, 1)], dtype=np.int8)
    counts = np.array([1e6 * (prior * m1[a] * m2[b] + (1 - prior) * u1[a] * u2[b]) for a, b in patterns.tolist()])
    start = [np.array([0.5, 0.5]), np.array([0.5, 0.5])]
    fit = _fellegi_sunter.expectation_maximisation(patterns, counts, start, [np.array(u1), np.array(u2)], 0.5)
    assert fit.iterations < _fellegi_sunter.EM_ITERATIONS and fit.related is None
    assert fit.shares.tolist() == pytest.approx([prior, 1 - prior], abs=1e-4)
    assert fit.m[0] == pytest.approx(m1, abs=1e-4) and fit.m[1] == pytest.approx(m2, abs=1e-4)


def test_em_step_by_hand():
    # One iteration from m = u's mirror image, prior 0.5: posteriors by Bayes' rule.
    patterns = np.array([[1], [0], [-1]], dtype=np.int8)
    counts = np.array([10.0, 30.0, 5.0])
    m, u = [np.array([0.2, 0.8])], [np.array([0.8, 0.2])]
    saved = _fellegi_sunter.EM_ITERATIONS
    try:
        _fellegi_sunter.EM_ITERATIONS = 1
        fit = _fellegi_sunter.expectation_maximisation(patterns, counts, m, u, 0.5)
    finally:
        _fellegi_sunter.EM_ITERATIONS = saved
    # posterior: agree 0.8/(0.8+0.2) = 0.8, disagree 0.2, missing 0.5 (no evidence)
    matched = 10 * 0.8 + 30 * 0.2 + 5 * 0.5
    assert fit.shares[0] == pytest.approx(matched / 45)
    pseudo = _fellegi_sunter.PSEUDO_COUNT * matched / 45
    agree, disagree = 10 * 0.8 + pseudo, 30 * 0.2 + pseudo
    assert fit.m[0] == pytest.approx([disagree / (agree + disagree), agree / (agree + disagree)])


def fixed_model(fields, m, u, prior):
    model = LinkageModel(fields)
    model.m, model.u, model.prior = [np.array(x) for x in m], [np.array(x) for x in u], prior
    return model


def test_term_frequency_weights():
    # Agreeing on "smith" (4 of the 6 present values) counts for less than on "jones" (2 of 6):
    # the exact level's u becomes the value's frequency.
    surname = Field("surname", kind="name", scorer="jaro_winkler", levels=(), term_frequency=True)
    model = fixed_model([surname], [[0.1, 0.9]], [[0.99, 0.01]], 0.1)
    table = {"surname": ["smith"] * 4 + ["jones"] * 2 + [None] * 2}
    result = vornkit.link_records(table, model=model, threshold=0.0)
    prior = math.log2(0.1 / 0.9)
    found = {(int(a), int(b)): (float(w), float(t)) for a, b, w, t in zip(
        result.left, result.right, result.weights["surname"], result.match_weight)}  # fmt: skip
    assert found[0, 1] == (pytest.approx(math.log2(0.9 / (4 / 6))), pytest.approx(prior + math.log2(0.9 / (4 / 6))))
    assert found[4, 5][0] == pytest.approx(math.log2(0.9 / (2 / 6)))
    assert found[0, 4][0] == pytest.approx(math.log2(0.1 / 0.99))
    assert found[0, 6][0] == 0.0  # missing: no evidence
    assert len(found) == 8 * 7 // 2 and all(a < b for a, b in found)
    # Without the adjustment every exact agreement weighs log2(m/u).
    plain = fixed_model([Field("surname", kind="name", scorer="jaro_winkler", levels=(), term_frequency=False)],
                        [[0.1, 0.9]], [[0.99, 0.01]], 0.1)  # fmt: skip
    result = vornkit.link_records(table, model=plain, threshold=0.0)
    exact = result.levels["surname"] == 1
    assert np.all(result.weights["surname"][exact] == pytest.approx(math.log2(0.9 / 0.01)))


def test_probability_and_threshold():
    model = fixed_model([Field("code", kind="code", levels=(), term_frequency=False)], [[0.2, 0.8]], [[0.8, 0.2]], 0.5)
    table = {"code": ["1", "1", "2"]}
    every = vornkit.link_records(table, model=model, threshold=0.0)
    assert every.match_weight.tolist() == [2.0, -2.0, -2.0]  # log2(0.8/0.2), best first
    assert every.match_probability.tolist() == [0.8, 0.2, 0.2]
    assert len(vornkit.link_records(table, model=model)) == 1  # default: probability >= 0.5
    assert len(vornkit.link_records(table, model=model, threshold=0.81)) == 0


# ---------------------------------------------------------------- saving and loading


@pytest.fixture
def fitted():
    rng = np.random.default_rng(3)
    names = ["anna", "bob", "carla", "dmitri", "eve", "farid", "gina", "hugo"]
    table = {
        "name": [names[k] for k in rng.integers(0, len(names), 300)],
        "zip": [str(k) for k in rng.integers(1000, 1100, 300)],
    }
    return LinkageModel(["name", "zip"]).fit(table), table


def test_save_and_load(tmp_path, fitted):
    model, table = fitted
    path = tmp_path / "model.json"
    model.save(path)
    data = json.loads(path.read_text())
    assert data["format"] == "vornkit-linkage-model" and data["version"] == 2
    assert [f["kind"] for f in data["fields"]] == ["name", "code"]
    assert [c["name"] for c in data["comparisons"]] == ["name", "zip"]
    loaded = LinkageModel.load(path)
    assert loaded.to_dict() == model.to_dict()
    first = vornkit.link_records(table, model=model, threshold=0.01)
    again = vornkit.link_records(table, model=loaded, threshold=0.01)
    assert np.array_equal(first.match_weight, again.match_weight) and np.array_equal(first.left, again.left)


def test_fit_then_predict_is_link_records(fitted):
    model, table = fitted
    alone = vornkit.link_records(table, on=["name", "zip"], threshold=0.01)
    again = model.predict(table, threshold=0.01)
    assert np.array_equal(alone.match_weight, again.match_weight) and np.array_equal(alone.right, again.right)
    with pytest.raises(ValueError, match="labels fit a model"):
        vornkit.link_records(table, model=model, labels=[(0, 1)])


def damage(data, change):
    data = json.loads(json.dumps(data))
    change(data)
    return json.dumps(data)


DAMAGED = [
    (lambda d: d.update(format="other"), 'no "format"'),
    (lambda d: d.update(version=99), "format version 99"),
    (lambda d: d.update(prior=1.5), "prior 1.5"),
    (lambda d: d["comparisons"][0].update(m=[0.5, 0.5]), "levels but 2 m values"),
    (lambda d: d["comparisons"][1].update(u=[0.0, 0.5, 0.5, 0.0]), "u values must be in (0, 1]"),
    (lambda d: d["comparisons"].pop(), "1 comparisons for 2 fields and groups"),
    (lambda d: d["comparisons"][0].update(members=["name", "street"]), "names fields the model does not have"),
    (lambda d: d["fields"][0].pop("kind"), "missing or malformed entry 'kind'"),
    (lambda d: d["fields"][0].update(kind="colour"), "kind must be one of"),
    (lambda d: d.pop("fields"), "missing or malformed entry"),
]


@pytest.mark.parametrize(("change", "message"), DAMAGED)
def test_load_damaged(tmp_path, fitted, change, message):
    path = tmp_path / "model.json"
    path.write_text(damage(fitted[0].to_dict(), change))
    with pytest.raises(ValueError, match="not a vornkit linkage model") as caught:
        LinkageModel.load(path)
    assert message in str(caught.value) and "\n" not in str(caught.value)


def test_load_format_1_compares_groups_by_count(tmp_path):
    # Files of format 1 compared a group by how many members agree; format 2 by which agree.
    fields = [NAME, CODE, Field("city", kind="name", scorer="jaro_winkler", levels=(0.92, 0.80), term_frequency=True)]
    count_levels, city_levels = [0.1, 0.2, 0.7], [0.05, 0.05, 0.1, 0.8]
    model = fixed_model(fields, [count_levels, city_levels], [[0.9, 0.09, 0.01], [0.9, 0.05, 0.04, 0.01]], 0.01)
    model.groups, model.count_groups = [("name", "zip")], True
    data = model.to_dict()
    assert data["comparisons"][0]["agreement"] == _comparisons.GROUP_COUNT
    data["version"] = 1
    del data["comparisons"][0]["agreement"]
    path = tmp_path / "old.json"
    path.write_text(json.dumps(data))
    loaded = LinkageModel.load(path)
    assert loaded.compared[0].level_count == 3 and loaded.to_dict()["version"] == 2
    data["version"] = 2  # read as format 2, the group has 4 levels (which agree) and 3 values
    path.write_text(json.dumps(data))
    with pytest.raises(ValueError, match="4 levels but 3 m values"):
        LinkageModel.load(path)


@pytest.mark.parametrize("content", [b"{not json", b"\xff\xfe", b"[1, 2]"])
def test_load_foreign(tmp_path, content):
    path = tmp_path / "model.json"
    path.write_bytes(content)
    with pytest.raises(ValueError, match=r"model\.json: not a vornkit linkage model"):
        LinkageModel.load(path)


def test_unfitted_model():
    with pytest.raises(ValueError, match="not fitted"):
        LinkageModel(["name"]).predict({"name": ["a"]})
    with pytest.raises(ValueError, match="'name' is given twice"):
        LinkageModel(["name", "name"])


# ---------------------------------------------------------------- one table against all its pairs


def test_em_over_a_population_step_by_hand():
    # 100 candidate pairs of 10 000: the match share is of the 10 000, the other pairs being
    # non-matches; posteriors by Bayes' rule with that share.
    patterns, counts = np.array([[1], [0]], dtype=np.int8), np.array([30.0, 70.0])
    m, u, prior = [np.array([0.2, 0.8])], [np.array([0.99, 0.01])], 0.001
    saved = _fellegi_sunter.EM_ITERATIONS
    try:
        _fellegi_sunter.EM_ITERATIONS = 1
        fit = _fellegi_sunter.expectation_maximisation(patterns, counts, m, u, prior, population=10_000.0)
    finally:
        _fellegi_sunter.EM_ITERATIONS = saved
    agree = prior * 0.8 / (prior * 0.8 + (1 - prior) * 0.01)
    disagree = prior * 0.2 / (prior * 0.2 + (1 - prior) * 0.99)
    assert fit.shares[0] == pytest.approx((30 * agree + 70 * disagree) / 10_000)
    assert fit.u[0].tolist() == u[0].tolist()  # u is of all pairs: held
    pseudo = _fellegi_sunter.PSEUDO_COUNT  # a count of pairs, not a share of a tiny class
    total = 30 * agree + 70 * disagree + 2 * pseudo
    assert fit.m[0] == pytest.approx([(70 * disagree + pseudo) / total, (30 * agree + pseudo) / total])
    with pytest.raises(ValueError, match="population"):
        _fellegi_sunter.expectation_maximisation(patterns, counts, m, u, prior, population=50.0)


def test_co_agreement_counts_pairs_beyond_independence():
    # Records 0-2 share a zip, 0-1 also a name, 3-4 share a name: one table of five records.
    name = _comparisons.encode(NAME, ["ann", "ann", "bob", "cy", "cy"], None)
    zip_code = _comparisons.encode(CODE, ["1", "1", "1", "2", "3"], None)
    excess, chance = _fellegi_sunter.co_agreement([name, zip_code], dedup=True)
    # 10 pairs: 2 agree on the name, 3 on the zip, 1 on both; independence gives 2 * 3 / 10.
    assert chance[0, 1] == pytest.approx(0.6) and excess[0, 1] == pytest.approx(1 - 0.6)
    assert excess[1, 0] == excess[0, 1] and excess[0, 0] == 0.0
    # Two tables: pairs (left, right) agreeing on both, among 2 x 2.
    name = _comparisons.encode(NAME, ["ann", "bob"], ["ann", "ann"])
    zip_code = _comparisons.encode(CODE, ["1", "1"], ["1", "2"])
    excess, chance = _fellegi_sunter.co_agreement([name, zip_code], dedup=False)
    assert chance[0, 1] == pytest.approx(2 * 2 / 4) and excess[0, 1] == pytest.approx(1 - 1.0)


def excess_of(copies, rates, shared, extra):
    """Co-agreement excess of copies of one entity agreeing on each field at its rate, plus
    ``extra`` pairs agreeing on every pair of fields in ``shared`` (a household's)."""
    excess = copies * np.outer(rates, rates)
    for a in shared:
        for b in shared:
            excess[a, b] += extra
    np.fill_diagonal(excess, 0.0)
    return excess


@pytest.mark.parametrize(
    ("shared", "extra", "groups"),
    [
        ((), 0.0, []),  # copies alone: no field depends on another, however their rates differ
        ((1, 3, 4), 2000.0, [("last", "zip", "street")]),  # a household: surname and address
        ((1, 3, 4), 150.0, []),  # too little beyond the copies to be told from them
        ((0, 1, 2, 3, 4), 900.0, []),  # every field: none would stay outside
    ],
)
def test_dependent_groups(shared, extra, groups):
    names = ["first", "last", "dob", "zip", "street"]
    excess = excess_of(1000.0, np.array([0.9, 0.8, 0.95, 0.6, 0.7]), shared, extra)
    assert _fellegi_sunter.dependent_groups(excess, np.zeros_like(excess), names) == groups


def test_dependent_groups_need_most_pairs_between_two_sets():
    # An e-mail holding the first name and the surname depends on both, and the surname on the
    # address: the name does not join the address through it.
    names = ["first", "email", "last", "zip", "street", "dob"]
    excess = excess_of(1000.0, np.full(6, 0.8), (2, 3, 4), 900.0)
    for a, b in ((0, 1), (1, 2)):
        excess[a, b] = excess[b, a] = excess[a, b] + 900.0
    found = _fellegi_sunter.dependent_groups(excess, np.zeros_like(excess), names)
    assert sorted(found) == [("first", "email"), ("last", "zip", "street")]
    # Chance agreement that large (a state, a sex) makes the same excess noise, not dependence.
    assert _fellegi_sunter.dependent_groups(excess, np.full_like(excess, 1e6), names) == []
    # A pair of common values (first names in a big town) whose excess is lost in its noise is
    # no least: the other fields are still measured against each other.
    chance = np.zeros_like(excess)
    excess[0, 3] = excess[3, 0] = -500.0
    chance[0, 3] = chance[3, 0] = 1e5
    found = _fellegi_sunter.dependent_groups(excess, chance, names)
    assert sorted(found) == [("first", "email"), ("last", "zip", "street")]


def test_two_table_model_with_a_group_loads_back():
    """A two-table model compares its groups by how many members agree; its file must say so."""
    people = [(g, s) for g in ["anna", "ben", "carl", "dora", "emil", "fay", "gus", "hana"]
              for s in ["smith", "jones", "brown", "taylor", "wilson", "evans"]]  # fmt: skip
    left = {
        "given_name": [g for g, _ in people],
        "surname": [s for _, s in people],
        "dob": [f"19{50 + k}-01-1{k % 10}" for k in range(len(people))],
    }
    right = {column: values[::2] for column, values in left.items()}
    right["surname"] = [s.replace("o", "0") for s in right["surname"]]
    model = LinkageModel(["given_name", "surname", "dob"]).fit(left, right)
    assert model.groups, "the example is meant to have a group"
    loaded = LinkageModel.from_dict(model.to_dict())
    assert loaded.to_dict() == model.to_dict()
    assert np.array_equal(loaded.predict(left, right).match_weight, model.predict(left, right).match_weight)


def test_a_saved_model_keeps_the_matches_per_record_on_tables_of_other_sizes(tmp_path, fitted):
    """The prior of a one-table model is a share of all pairs: on a table of another size it must
    move, or each record gets (size ratio) times the matches it should."""
    model, table = fitted
    assert model.population == (300, 300, True)
    assert model.for_rows(300, 300, True) is model
    half = {name: values[:150] for name, values in table.items()}
    result = vornkit.link_records(half, model=model, threshold=0.01)
    moved = result.model
    assert moved is not model and moved.population == (150, 150, True)
    per_record = model.prior * (300 * 299 // 2) / 300
    assert moved.prior == pytest.approx(per_record * 150 / (150 * 149 // 2), rel=1e-12)
    assert model.prior == pytest.approx(per_record * 300 / (300 * 299 // 2), rel=1e-12)  # the model itself is kept
    path = tmp_path / "model.json"
    model.save(path)
    again = vornkit.link_records(half, model=LinkageModel.load(path), threshold=0.01)
    assert np.array_equal(again.match_weight, result.match_weight)


@pytest.mark.parametrize(
    "population",
    [{"left_rows": 0, "right_rows": 3, "dedup": True}, {"left_rows": 3, "right_rows": 3, "dedup": 1}, {"rows": 3}, 7],
)
def test_a_malformed_population_is_refused(fitted, population):
    data = fitted[0].to_dict()
    data["population"] = population
    with pytest.raises(ValueError, match="population"):
        LinkageModel.from_dict(data)
