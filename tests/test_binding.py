"""The module surface, table-driven over every function and method: names
and published signatures, argument binding with the interpreter's wording,
conversion of each parameter kind (str, size, float, bool, word list) with
its note, misbehaving __index__ and __float__, lone surrogates, str
subclasses and NUL characters, the classes' surfaces, and import."""

import ast
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest
import vorn
from reference import CALLS, FLOW, PREPROCESSOR
from vorn import Preprocessor, VornFlow


def test_registration():
    # The stubs hold the names; stubtest checks them one by one. Here: their
    # order, and that nothing else is public.
    stub = ast.parse((Path(__file__).parents[1] / "stubs" / "vorn-stubs" / "__init__.pyi").read_text())
    (stub_all,) = [
        ast.literal_eval(node.value)
        for node in stub.body
        if isinstance(node, ast.Assign)
        and [target.id for target in node.targets if isinstance(target, ast.Name)] == ["__all__"]
    ]
    assert vorn.__all__ == stub_all
    assert {name for name in vars(vorn) if not name.startswith("__")} == set(stub_all)
    assert (vorn.__name__, vorn.__doc__) == ("vorn", "")


@pytest.mark.parametrize("name", CALLS)
def test_signature_and_keywords(name):
    fn, kwargs = CALLS[name]
    owner, _, method = name.rpartition(".")
    target = getattr(getattr(vorn, owner), method) if owner else fn
    assert target.__text_signature__ == "(" + ", ".join(["$self"] * bool(owner) + list(kwargs)) + ")"
    assert target.__name__ == (method or name)
    # by keyword in any order, by position, or mixed: one result
    by_position = fn(*kwargs.values())
    first, *rest = kwargs.items()
    for call in (fn(**dict(reversed(kwargs.items()))), fn(first[1], **dict(rest))):
        assert (call == by_position) or isinstance(call, (Preprocessor, VornFlow))


@pytest.mark.parametrize(
    "fn, args, kwargs, message",
    [
        (vorn.levenshtein_distance, ("a",), {}, "levenshtein_distance() missing 1 required positional argument: 'b'"),
        (
            vorn.levenshtein_similarity,
            (),
            {},
            "levenshtein_similarity() missing 2 required positional arguments: 'a' and 'b'",
        ),
        (vorn.tfidf_similarity, (), {"b": "x"}, "tfidf_similarity() missing 1 required positional argument: 'a'"),
        (vorn.bm25_similarity, ("a", "b", "c"), {}, "bm25_similarity() takes 2 positional arguments but 3 were given"),
        (vorn.levenshtein_distance, ("a",), {"a": "b"}, "levenshtein_distance() got multiple values for argument 'a'"),
        (vorn.clean_text, (), {"s": "x"}, "clean_text() got an unexpected keyword argument 's'"),
        # keyword errors come in the order given, before missing arguments
        (
            vorn.levenshtein_distance,
            (),
            {"a": "x", "zz": 1},
            "levenshtein_distance() got an unexpected keyword argument 'zz'",
        ),
        (Preprocessor, (True,), {}, "Preprocessor() takes 0 positional arguments but 1 was given"),
        (VornFlow, (), {"x": 1}, "VornFlow() got an unexpected keyword argument 'x'"),
        (PREPROCESSOR.with_trim, (), {}, "Preprocessor.with_trim() missing 1 required positional argument: 'v'"),
        (
            FLOW.tier_2,
            ("levenshtein", "gt"),
            {},
            "VornFlow.tier_2() missing 2 required positional arguments: 'val1' and 'val2'",
        ),
        (
            FLOW.compare_with_intent,
            ("a", "b", "c", "d"),
            {},
            "VornFlow.compare_with_intent() takes 3 positional arguments but 4 were given",
        ),
        (FLOW.compare, ("a",), {"a": "b"}, "VornFlow.compare() got multiple values for argument 'a'"),
    ],
)
def test_binding_errors(fn, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    assert str(info.value) == message
    assert not getattr(info.value, "__notes__", None)


class Text(str):
    pass


class Misbehaving:
    """Answers __index__ and __float__ with a value, or raises a fresh copy of an exception."""

    def __init__(self, result):
        self.result = result

    def answer(self):
        if isinstance(self.result, Exception):
            raise type(self.result)(*self.result.args)
        return self.result

    __index__ = __float__ = answer


class LengthLies:
    """A sequence whose length is only a hint: a lie, or an error."""

    def __init__(self, length, fail_at=None):
        self.length, self.fail_at = length, fail_at

    def __len__(self):
        return self.length.answer() if isinstance(self.length, Misbehaving) else self.length

    def __getitem__(self, i):
        if i == self.fail_at:
            raise KeyError("midway")
        if i < 2:
            return ("cat", "dog")[i]
        raise IndexError(i)


STR_ERRORS = [
    (1, TypeError, "'int' object is not an instance of 'str'"),
    (None, TypeError, "'None' is not an instance of 'str'"),
    (b"abc", TypeError, "'bytes' object is not an instance of 'str'"),
    (Text, TypeError, "'type' object is not an instance of 'str'"),
    ("ok\udcffok", UnicodeEncodeError, None),
]
SIZE_ERRORS = [
    (-1, OverflowError, None),
    (2**64, OverflowError, None),
    (2.0, TypeError, None),
    ("3", TypeError, None),
    (Misbehaving(ZeroDivisionError("boom")), ZeroDivisionError, "boom"),
    (Misbehaving("3"), TypeError, None),  # __index__ returning a non-int
    (Misbehaving(-3), OverflowError, None),
]
FLOAT_ERRORS = [
    ("0.5", TypeError, None),
    (None, TypeError, None),
    (Misbehaving(ValueError("no")), ValueError, "no"),
    (Misbehaving("0.5"), TypeError, None),  # __float__ returning a non-float
]
BOOL_ERRORS = [(1, TypeError, None), ("yes", TypeError, None), (None, TypeError, None)]
WORDS_ERRORS = [
    ("the", TypeError, "Can't extract `str` to `Vec`"),
    (Text("the"), TypeError, "Can't extract `str` to `Vec`"),
    ({"the"}, TypeError, None),
    ({"the": 1}, TypeError, None),
    (iter(["the"]), TypeError, None),
    (None, TypeError, None),
    (["the", 1], TypeError, "'int' object is not an instance of 'str'"),
    (["\ud800"], UnicodeEncodeError, None),
    (LengthLies(2, fail_at=1), KeyError, None),
]
ERRORS_BY_PARAMETER = {
    **dict.fromkeys(["a", "b", "text", "algo", "match_op", "mismatch_op", "op", "intent"], STR_ERRORS),
    **dict.fromkeys(["n", "shingle_size", "num_hashes", "max"], SIZE_ERRORS),
    **dict.fromkeys(["match_val", "mismatch_val", "val1", "val2"], FLOAT_ERRORS),
    **dict.fromkeys(["v", "enable"], BOOL_ERRORS),
    "words": WORDS_ERRORS,
}
CONVERSION_CASES = [
    pytest.param(name, parameter, value, error, message, id=f"{name}-{parameter}-{value!r:.20}")
    for name, (_, kwargs) in CALLS.items()
    for parameter in kwargs
    for value, error, message in ERRORS_BY_PARAMETER[parameter]
]


@pytest.mark.parametrize("name, parameter, value, error, message", CONVERSION_CASES)
def test_conversion_errors_carry_the_parameter_note(name, parameter, value, error, message):
    fn, kwargs = CALLS[name]
    with pytest.raises(error) as info:
        fn(**{**kwargs, parameter: value})
    assert type(info.value) is error
    assert info.value.__notes__ == [f"while processing '{parameter}'"]
    if message is not None:
        assert str(info.value) == message


def test_first_failing_conversion_wins():
    with pytest.raises(TypeError) as info:
        vorn.minhash_similarity(1, 2, "x", None)
    assert info.value.__notes__ == ["while processing 'a'"]


@pytest.mark.parametrize("name", CALLS)
def test_str_subclasses_nul_characters_and_number_likes_are_accepted(name):
    fn, kwargs = CALLS[name]

    def outcome(**arguments):  # a configured object is judged by what it computes
        result = fn(**arguments)
        if isinstance(result, VornFlow):
            return result.compare("abc\0", "abd")
        return result.process(" The A\0B ") if isinstance(result, Preprocessor) else result

    plain = outcome(**kwargs)
    lookalikes = {
        k: Text(v) if isinstance(v, str) else Misbehaving(v) if type(v) in (int, float) else v
        for k, v in kwargs.items()
    }
    assert outcome(**lookalikes) == plain
    sizes = {k: True for k, v in kwargs.items() if type(v) is int}  # a bool is an int
    if sizes:
        assert outcome(**{**kwargs, **sizes}) == outcome(**{**kwargs, **dict.fromkeys(sizes, 1)})
    # A NUL inside a text is one more character: the call neither stops at it nor ignores it.
    if "a" in kwargs:
        assert outcome(**{**kwargs, "a": "x\0y", "b": "x\0z"}) != outcome(**{**kwargs, "a": "x", "b": "x"})
    if "text" in kwargs:
        assert outcome(**{**kwargs, "text": "A\0B"}) != outcome(**{**kwargs, "text": "AB"})


@pytest.mark.parametrize("words", [LengthLies(2**62), LengthLies(Misbehaving(RuntimeError())), ("cat", "dog")])
def test_stopwords_from_any_sequence(words):
    assert PREPROCESSOR.with_remove_stopwords(True).with_stopwords(words).process("the cat and dog") == "the and"


@pytest.mark.parametrize("cls, builder", [(Preprocessor, "with_trim"), (VornFlow, "preprocess")])
def test_class_surface(cls, builder):
    # The members themselves are the stubs', checked by stubtest.
    assert (cls.__module__, cls.__qualname__, cls.__text_signature__) == ("builtins", cls.__name__, "()")

    class Custom(cls):
        pass

    derived = getattr(Custom(), builder)(True)
    assert type(derived) is cls  # builders make the base class
    with pytest.raises(AttributeError):
        derived.lowercase = False


def test_reprs():
    assert repr(Preprocessor()) == "Preprocessor(lowercase=true, stopwords=false)"
    configured = Preprocessor().with_lowercase(False).with_remove_stopwords(True).with_max_length(3)
    assert repr(configured) == "Preprocessor(lowercase=false, stopwords=true)"
    assert repr(FLOW.preprocess(True)) == "VornFlow()"


def test_builders_leave_the_receiver_unchanged():
    base = Preprocessor()
    remover = base.with_remove_stopwords(True)
    custom = remover.with_stopwords(["cat"])
    with pytest.raises(TypeError):
        custom.with_stopwords(["dog", 1])
    outcomes = [p.process(" The cat dog ") for p in (base, base.with_trim(False), remover, custom)]
    assert outcomes == ["the cat dog", " the cat dog ", "cat dog", "the dog"]


def run_python(code, *options):
    return subprocess.run([sys.executable, *options, "-c", textwrap.dedent(code)], capture_output=True, text=True)


def test_import_in_a_second_module_object_and_without_warnings():
    result = run_python(
        """
        import importlib.util, vorn
        spec = importlib.util.find_spec("vorn")
        other = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(other)
        assert other is not vorn and other.__all__ == vorn.__all__
        print(other.levenshtein_distance("ab", "b"))
        """,
        "-W",
        "error",
    )
    assert (result.returncode, result.stdout) == (0, "1\n"), result.stderr


def test_subinterpreter_import_is_refused_cleanly():
    # The type objects are process-wide, so a sub-interpreter must be refused.
    code = f"import sys\nsys.path[:] = {sys.path!r}\n"
    code += "try:\n import vorn\nexcept ImportError as e:\n print('refused:', e)"
    if sys.version_info >= (3, 13):
        runner = f"import _interpreters\ni = _interpreters.create()\n_interpreters.run_string(i, {code!r})"
    else:
        runner = (
            f"import _testcapi\n_testcapi.run_in_subinterp_with_config({code!r}, use_main_obmalloc=False, "
            "allow_fork=False, allow_exec=False, allow_threads=True, allow_daemon_threads=False, "
            "check_multi_interp_extensions=True, gil=2)"
        )
    result = run_python(runner)
    if "ModuleNotFoundError: No module named '_" in result.stderr:
        pytest.skip("sub-interpreter test helpers unavailable")
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("refused: ") and "subinterpreters" in result.stdout
