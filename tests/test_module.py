"""The module surface: registration, published signatures, argument binding,
argument conversion and error mapping, shown on the Levenshtein functions."""

import re
import subprocess
import sys
import textwrap

import pytest

import vorn

REGISTRATION_ORDER = [
    "levenshtein_distance", "levenshtein_similarity", "jaro_winkler_similarity",
    "hamming_similarity", "hamming_distance", "jaccard_similarity",
    "jaccard_bigram_similarity", "jaccard_trigram_similarity", "jaccard_word_similarity",
    "minhash_signature", "minhash_similarity", "minhash_similarity_default",
    "simhash_fingerprint", "simhash_fingerprint_default", "simhash_similarity",
    "simhash_similarity_default", "bm25_similarity", "tfidf_similarity", "Preprocessor",
    "clean_text", "clean_text_stopwords", "VornFlow",
]

lev = vorn.levenshtein_distance


def test_all_lists_registered_names_in_registration_order():
    assert vorn.__all__ == REGISTRATION_ORDER
    public = {name for name in vorn.__dict__ if not name.startswith("__")}
    assert public == set(REGISTRATION_ORDER)


def test_module_attributes():
    assert vorn.__name__ == "vorn"
    assert vorn.__doc__ == ""


@pytest.mark.parametrize("name", [n for n in REGISTRATION_ORDER if n[0].islower()])
def test_functions_publish_only_their_signature(name):
    fn = getattr(vorn, name)
    assert fn.__doc__ is None
    assert fn.__module__ == "vorn"
    assert fn.__self__ is vorn
    assert fn.__name__ == name
    assert re.fullmatch(r"\((\w+)(, \w+)*\)", fn.__text_signature__)


def test_levenshtein_signatures():
    assert vorn.levenshtein_distance.__text_signature__ == "(a, b)"
    assert vorn.levenshtein_similarity.__text_signature__ == "(a, b)"
    import inspect

    assert list(inspect.signature(lev).parameters) == ["a", "b"]


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        (("a",), {}, "levenshtein_distance() missing 1 required positional argument: 'b'"),
        ((), {}, "levenshtein_distance() missing 2 required positional arguments: 'a' and 'b'"),
        ((), {"b": "x"}, "levenshtein_distance() missing 1 required positional argument: 'a'"),
        (("a", "b", "c"), {}, "levenshtein_distance() takes 2 positional arguments but 3 were given"),
        (("a", "b", "c", "d"), {}, "levenshtein_distance() takes 2 positional arguments but 4 were given"),
        (("a",), {"a": "b"}, "levenshtein_distance() got multiple values for argument 'a'"),
        ((), {"x": "a", "b": "b"}, "levenshtein_distance() got an unexpected keyword argument 'x'"),
        (("a", "b"), {"a": "c"}, "levenshtein_distance() got multiple values for argument 'a'"),
        # keyword errors are reported in the order given, before missing ones
        ((), {"a": "x", "zz": 1}, "levenshtein_distance() got an unexpected keyword argument 'zz'"),
    ],
)
def test_binding_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        lev(*args, **kwargs)
    assert str(info.value) == message
    assert not getattr(info.value, "__notes__", None)


def test_similarity_uses_its_own_name_in_messages():
    with pytest.raises(TypeError, match=r"^levenshtein_similarity\(\) missing 1 required"):
        vorn.levenshtein_similarity("a")


def test_keywords_accepted_for_every_parameter():
    assert lev(a="kitten", b="sitting") == 3
    assert lev(b="sitting", a="kitten") == 3
    assert lev("kitten", b="sitting") == 3


class Text(str):
    pass


@pytest.mark.parametrize(
    "value, message",
    [
        (1, "'int' object is not an instance of 'str'"),
        (None, "'None' is not an instance of 'str'"),
        (b"abc", "'bytes' object is not an instance of 'str'"),
        (["a"], "'list' object is not an instance of 'str'"),
        (Text, "'type' object is not an instance of 'str'"),
    ],
)
@pytest.mark.parametrize("position", ["a", "b"])
def test_str_conversion_errors_carry_a_note(value, message, position):
    args = {"a": "x", "b": "y", position: value}
    with pytest.raises(TypeError) as info:
        lev(**args)
    assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{position}'"]


def test_first_failing_conversion_wins():
    with pytest.raises(TypeError) as info:
        lev(1, 2)
    assert info.value.__notes__ == ["while processing 'a'"]


@pytest.mark.parametrize("position", ["a", "b"])
def test_lone_surrogate_is_the_interpreters_encode_error(position):
    args = {"a": "ok", "b": "ok", position: "x\ud800y"}
    with pytest.raises(UnicodeEncodeError) as info:
        lev(**args)
    assert info.value.__notes__ == [f"while processing '{position}'"]


def test_str_subclass_is_accepted():
    assert lev(Text("kitten"), Text("sitting")) == 3


def test_embedded_nul_is_an_ordinary_character():
    assert lev("a\0b", "a\0c") == 1
    assert lev("\0", "") == 1


def test_binding_errors_do_not_leak(no_leak):
    no_leak(lev, "a", "b", "c", expect=TypeError, calls=20_000)
    no_leak(lev, 1, "x", expect=TypeError, calls=20_000)
    no_leak(lev, "x\ud800", "x", expect=UnicodeEncodeError, calls=20_000)


def test_successful_calls_do_not_leak(no_leak):
    a, b = "kitten" * 20, "sitting" * 20
    no_leak(lev, a, b)
    no_leak(vorn.levenshtein_similarity, a, b)
    no_leak(lev, a="héllo", b="hello")


def _run(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True)


def test_fresh_import_in_other_module_object():
    # A second module object from the same shared library registers the same names.
    result = _run(
        """
        import importlib.util, sys, vorn
        spec = importlib.util.find_spec("vorn")
        other = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(other)
        assert other is not vorn and other.__all__ == vorn.__all__
        assert other.levenshtein_distance("ab", "b") == 1
        print("ok")
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "ok"


SUBINTERPRETER_CODE = """
import sys
sys.path[:] = {path!r}
try:
    import vorn
    print("imported")
except ImportError as e:
    print("refused:", e)
"""


def test_subinterpreter_import_is_refused_cleanly():
    # The type objects are process-wide, so the module declares that it
    # cannot be loaded into a sub-interpreter; the import must fail cleanly.
    code = SUBINTERPRETER_CODE.format(path=sys.path)
    if sys.version_info >= (3, 13):
        runner = f"""
import _interpreters
iid = _interpreters.create()
_interpreters.run_string(iid, {code!r})
_interpreters.destroy(iid)
"""
    else:
        runner = f"""
import _testcapi
_testcapi.run_in_subinterp_with_config({code!r}, use_main_obmalloc=False, allow_fork=False,
    allow_exec=False, allow_threads=True, allow_daemon_threads=False,
    check_multi_interp_extensions=True, gil=2)
"""
    result = _run(runner)
    if "ModuleNotFoundError: No module named '_" in result.stderr:
        pytest.skip("sub-interpreter test helpers unavailable")
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("refused: "), result.stdout
    assert "subinterpreters" in result.stdout


def test_import_raises_no_warnings():
    import subprocess
    import sys

    out = subprocess.run([sys.executable, "-W", "error", "-c", "import vorn"], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
