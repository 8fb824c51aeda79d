"""Limits of hostile input: large stopword lists, sequences whose length fails, sub-interpreters."""

import importlib.util
import random
import sys
import textwrap

import pytest
import vorn


def words_of(rng, count, alphabet="abcσΣé'"):
    return ["".join(rng.choice(alphabet) for _ in range(rng.randint(1, 12))) for _ in range(count)]


@pytest.mark.parametrize("lowercase", [True, False])
def test_large_custom_stopword_list(lowercase):
    rng = random.Random(19)
    listed = words_of(rng, 100_000)
    # Duplicates, entries that never match (empty, with whitespace), long
    # entries that differ only in one middle byte or in the last one.
    stems = ["x" * 9 + "a" + "y" * 9, "prefix-shared-" * 3]
    listed += listed[:50] + ["", "a b", "\t"] + [stems[0], stems[1] + "1"]
    text_words = words_of(rng, 5_000) + listed[:2_000:7] + [stems[0].replace("a", "b"), stems[1] + "2", stems[1] + "1"]
    rng.shuffle(text_words)
    text = " ".join(text_words)
    p = vorn.Preprocessor().with_remove_stopwords(True).with_lowercase(lowercase).with_stopwords(listed)
    processed = vorn.clean_text(text) if lowercase else text
    listed_set = set(listed)
    expected = " ".join(w for w in processed.split() if w not in listed_set)
    assert p.process(text) == expected
    # Builders that keep the list keep its set; a new list replaces it.
    assert p.with_trim(False).process(text) == expected
    assert p.with_stopwords(["abc"]).process("abc abcd") == "abcd"


class FailingLength:
    """A sequence whose __len__ raises; iteration still works."""

    def __init__(self, error):
        self.error = error

    def __len__(self):
        raise self.error

    def __getitem__(self, index):
        if index < 2:
            return ["cat", "hat"][index]
        raise IndexError(index)


class OwnBaseException(BaseException):
    pass


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(3), MemoryError("no room"), OwnBaseException()])
def test_failing_length_that_must_propagate(error):
    with pytest.raises(type(error)) as raised:
        vorn.Preprocessor().with_stopwords(FailingLength(error))
    assert raised.value is error


@pytest.mark.parametrize("error", [TypeError("no len"), ValueError("bad"), OverflowError("huge"), RuntimeError()])
def test_failing_length_that_is_only_a_size_hint(error):
    p = vorn.Preprocessor().with_remove_stopwords(True).with_stopwords(FailingLength(error))
    assert p.process("the cat in the hat") == "the in the"


def run_in_legacy_subinterpreter(code):
    """Runs code in a sub-interpreter that shares the main interpreter's lock."""
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "run_in_subinterp"):
        pytest.skip("no legacy sub-interpreters in this build")
    assert testcapi.run_in_subinterp(code) == 0


def run_in_isolated_subinterpreter(code):
    """Runs code in a sub-interpreter with its own lock and the default,
    isolated configuration."""
    for name in ("_interpreters", "_xxsubinterpreters"):
        if importlib.util.find_spec(name) is not None:
            interpreters = importlib.import_module(name)
            break
    else:
        pytest.skip("no sub-interpreter module in this build")
    interp = interpreters.create()
    try:
        if hasattr(interpreters, "exec"):
            assert interpreters.exec(interp, code) is None
        else:
            interpreters.run_string(interp, code)
    finally:
        interpreters.destroy(interp)


IMPORT_PROBE = """
import sys
sys.path[:] = {path!r}
try:
    import {module}
    outcome = "imported"
except ImportError as error:
    outcome = "ImportError: " + str(error)
with open({out!r}, "w") as f:
    f.write(outcome)
"""


@pytest.mark.parametrize("module", ["vorn", "vornkit._native"])
@pytest.mark.parametrize("kind", ["legacy", "isolated"])
def test_import_in_a_subinterpreter_is_refused(tmp_path, module, kind):
    out = tmp_path / "outcome"
    code = textwrap.dedent(IMPORT_PROBE).format(path=sys.path, module=module, out=str(out))
    {"legacy": run_in_legacy_subinterpreter, "isolated": run_in_isolated_subinterpreter}[kind](code)
    outcome = out.read_text()
    assert outcome.startswith("ImportError: ") and "subinterpreters" in outcome
    # The main interpreter is unaffected.
    assert vorn.clean_text(" A ") == "a"
