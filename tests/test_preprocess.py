import random
import unicodedata

import pytest

import vorn
from vorn import Preprocessor

WHITESPACE = [
    *map(chr, range(0x09, 0x0E)), " ", "\x85", "\xa0", "\u1680", *map(chr, range(0x2000, 0x200B)),
    "\u2028", "\u2029", "\u202f", "\u205f", "\u3000",
]
NOT_WHITESPACE = ["\x1c", "\x1d", "\x1e", "\x1f", "\u200b", "\u180e", "\ufeff"]

# The built-in list, to check the table itself and as the reference's list.
DEFAULT_STOPWORDS = """a an the and or but if because as until while of at by for with about between into through
during before after above below to from up down in out on off over under again further then once here there when
where why how all each every both few more most other some such no nor not only own same so than too very just also
am is are was were be been being have has had having do does did doing would could should might must shall can will
may need dare ought used this that these those i me my myself we our ours ourselves you your yours yourself
yourselves he him his himself she her hers herself it its itself they them their theirs themselves what which who
whom whose any anyone anything anybody everyone everything everybody someone something somebody nobody nothing none
neither one two three get got getting make made making take took taking let lets letting like liked likes really
actually basically probably maybe perhaps quite rather pretty almost nearly hardly scarcely barely already yet
still""".split()


def reference(text, *, normalize=True, lowercase=True, collapse=True, trim=True, remove=False, stopwords=(), max_length=0):
    if normalize:
        text = unicodedata.normalize("NFC", text)
    if lowercase:
        text = text.lower()
    if collapse:
        out, previous = [], False
        for ch in text:
            if ch in WHITESPACE:
                if not previous:
                    out.append(" ")
                previous = True
            else:
                out.append(ch)
                previous = False
        text = "".join(out)
    if trim:
        start, end = 0, len(text)
        while start < end and text[start] in WHITESPACE:
            start += 1
        while end > start and text[end - 1] in WHITESPACE:
            end -= 1
        text = text[start:end]
    if remove:
        words, word = [], []
        for ch in text + " ":
            if ch in WHITESPACE:
                if word:
                    words.append("".join(word))
                word = []
            else:
                word.append(ch)
        dropped = set(stopwords or DEFAULT_STOPWORDS)
        text = " ".join(w for w in words if w not in dropped)
    if max_length:
        data = text.encode()
        if len(data) > max_length:
            cut = max_length
            while cut > 0 and (data[cut] & 0xC0) == 0x80:
                cut -= 1
            text = data[:cut].decode()
    return text


def test_default_stopword_table_size():
    assert len(DEFAULT_STOPWORDS) == len(set(DEFAULT_STOPWORDS)) == 183
    everything = " ".join(DEFAULT_STOPWORDS)
    assert vorn.clean_text_stopwords(everything) == ""
    assert vorn.clean_text_stopwords(everything.upper()) == ""
    assert vorn.clean_text_stopwords("four three thee dares") == "four thee dares"


@pytest.mark.parametrize(
    "text, expected",
    [
        ("  Hello,   World!  ", "hello, world!"),
        ("", ""),
        (" \t\n\u3000 ", ""),
        *[(f"a{ws}b", "a b") for ws in WHITESPACE],
        *[(f" a{ch}b ", f"a{ch}b") for ch in NOT_WHITESPACE],  # neither split nor trimmed
        ("e\u0301", "\xe9"),  # composed
        ("\ufb01 \u00b2", "\ufb01 \u00b2"),  # compatibility characters stay
        ("\uff21", "\uff41"),  # fullwidth stays fullwidth
        ("\u0130", "i\u0307"),  # one character in, two out
        ("ΟΔΟΣ", "οδος"[:-1] + "ς"),  # final sigma at a word end
        ("ΟΔΟΣ ΣΟΦΟΣ.", "οδος"[:-1] + "ς σοφος"[:-1] + "ς."),  # before punctuation it is still final
        ("ΑΣΑ Σ", "ασα σ"),  # inside a word, and alone
        ("Ａ\u0301", "ａ\u0301"),  # no precomposed form: the mark stays
        ("\u1e0c\u0307", "\u1e0d\u0307"),
        ("\ud55c\uae00 \u1100\u1161\u11a8", "\ud55c\uae00 \uac01"),  # Hangul composition
    ],
)
def test_clean_text(text, expected):
    assert vorn.clean_text(text) == expected
    assert Preprocessor().process(text) == expected


@pytest.mark.parametrize(
    "text, expected",
    [
        ("The quick brown fox is over the lazy dog", "quick brown fox lazy dog"),
        ("THE AND OR", ""),
        ("I'm here, and you?", "i'm here, you?"),
        ("the, cat", "the, cat"),
        ("  ", ""),
        ("a\u00a0cat\u3000the\tdog", "cat dog"),
    ],
)
def test_clean_text_stopwords(text, expected):
    assert vorn.clean_text_stopwords(text) == expected


@pytest.mark.parametrize(
    "build, text, expected",
    [
        (lambda p: p.with_trim(False), " a  b ", " a b "),
        (lambda p: p.with_collapse_whitespace(False), "a \t b", "a \t b"),
        (lambda p: p.with_collapse_whitespace(False), " \u3000a \t b\xa0", "a \t b"),
        (lambda p: p.with_collapse_whitespace(False).with_trim(False), " A\t", " a\t"),
        (lambda p: p.with_remove_stopwords(True), "The cat and the hat", "cat hat"),
        (lambda p: p.with_remove_stopwords(True).with_lowercase(False), "The cat and the hat", "The cat hat"),
        (lambda p: p.with_remove_stopwords(True).with_collapse_whitespace(False).with_trim(False), "  cat   hat  ", "cat hat"),
        (lambda p: p.with_remove_stopwords(True).with_stopwords(["cat"]), "the cat sat", "the sat"),
        (lambda p: p.with_remove_stopwords(True).with_stopwords([]), "the cat sat", "cat sat"),
        (lambda p: p.with_remove_stopwords(True).with_stopwords(["Cat", ""]), "the cat sat", "the cat sat"),
        (lambda p: p.with_remove_stopwords(True).with_stopwords(["x"]).with_stopwords(["y"]), "x y z", "x z"),
        (lambda p: p.with_remove_stopwords(True).with_stopwords(("é",)), "e\u0301 x", "x"),  # NFC before matching
        (lambda p: p.with_normalize_unicode(False), "e\u0301", "e\u0301"),
        (lambda p: p.with_lowercase(False), "ΟΔΟΣ", "ΟΔΟΣ"),
        (lambda p: p.with_max_length(3), "héllo", "hé"),
        (lambda p: p.with_max_length(2), "héllo", "h"),  # would cut inside 'é': back to the boundary
        (lambda p: p.with_max_length(1), "é", ""),
        (lambda p: p.with_max_length(6), "héllo", "héllo"),
        (lambda p: p.with_max_length(0), "héllo", "héllo"),
        (lambda p: p.with_max_length(2**64 - 1), "héllo", "héllo"),
        (lambda p: p.with_max_length(5), "😀😀", "😀"),
        (lambda p: p.with_max_length(4), "  AB  CD  ", "ab c"),  # counted after the other steps
        (lambda p: p.with_max_length(5).with_remove_stopwords(True), "the kitten and the cat", "kitte"),
        (lambda p: p.with_max_length(1), "\u0130", "i"),  # lowercasing grows the text first
    ],
)
def test_configured_pipelines(build, text, expected):
    assert build(Preprocessor()).process(text) == expected


def test_builders_leave_the_receiver_unchanged():
    base = Preprocessor()
    no_trim = base.with_trim(False)
    remover = base.with_remove_stopwords(True)
    custom = remover.with_stopwords(["cat"])
    assert base.process(" The cat ") == "the cat"
    assert no_trim.process(" The cat ") == " the cat "
    assert remover.process(" The cat ") == "cat"
    assert custom.process(" The cat ") == "the"
    with pytest.raises(TypeError):
        custom.with_stopwords(["dog", 1])
    assert custom.process(" The cat dog ") == "the dog"
    assert len({id(base), id(no_trim), id(remover), id(custom)}) == 4


def test_repr_shows_two_flags():
    assert repr(Preprocessor()) == "Preprocessor(lowercase=true, stopwords=false)"
    p = Preprocessor().with_lowercase(False).with_remove_stopwords(True).with_max_length(3).with_stopwords(["x"])
    assert repr(p) == "Preprocessor(lowercase=false, stopwords=true)"


def test_class_surface():
    assert Preprocessor.__module__ == "builtins" and Preprocessor.__qualname__ == "Preprocessor"
    assert Preprocessor.__text_signature__ == "()"
    own = [name for name in vars(Preprocessor) if not name.startswith("__")]
    assert own == [
        "with_trim", "with_lowercase", "with_stopwords", "with_max_length", "with_remove_stopwords",
        "with_normalize_unicode", "with_collapse_whitespace", "process",
    ]
    assert Preprocessor.with_max_length.__text_signature__ == "($self, max)"
    assert Preprocessor.with_stopwords.__text_signature__ == "($self, words)"
    assert Preprocessor.process.__text_signature__ == "($self, text)"

    class Custom(Preprocessor):
        pass

    assert type(Custom().with_trim(True)) is Preprocessor
    with pytest.raises(AttributeError):
        Preprocessor().lowercase = False


class ClaimsHugeLength:
    """A sequence whose length is a lie: only a size hint."""

    def __len__(self):
        return 2**62

    def __getitem__(self, i):
        if i < 2:
            return ("cat", "dog")[i]
        raise IndexError(i)


class LengthFails(ClaimsHugeLength):
    def __len__(self):
        raise RuntimeError("no length")


class IterationFails(ClaimsHugeLength):
    def __getitem__(self, i):
        if i == 1:
            raise KeyError("midway")
        return "cat"


@pytest.mark.parametrize("words", [ClaimsHugeLength(), LengthFails(), ["cat", "dog"], ("cat", "dog")])
def test_with_stopwords_accepts_sequences(words):
    p = Preprocessor().with_remove_stopwords(True).with_stopwords(words)
    assert p.process("the cat and dog") == "the and"


@pytest.mark.parametrize(
    "words, error, message",
    [
        ("the", TypeError, "Can't extract `str` to `Vec`"),
        (type("S", (str,), {})("the"), TypeError, "Can't extract `str` to `Vec`"),
        ({"the"}, TypeError, None),
        ({"the": 1}, TypeError, None),
        (iter(["the"]), TypeError, None),
        ((w for w in ["the"]), TypeError, None),
        (["the", 1], TypeError, "'int' object is not an instance of 'str'"),
        (["the", None], TypeError, "'None' is not an instance of 'str'"),
        (["\ud800"], UnicodeEncodeError, None),
        (IterationFails(), KeyError, None),
        (None, TypeError, None),
    ],
)
def test_with_stopwords_rejects(words, error, message):
    with pytest.raises(error) as info:
        Preprocessor().with_stopwords(words)
    assert info.value.__notes__ == ["while processing 'words'"]
    if message is not None:
        assert str(info.value) == message


@pytest.mark.parametrize(
    "method, arg, error, parameter",
    [
        ("with_trim", 1, TypeError, "v"),
        ("with_lowercase", "yes", TypeError, "v"),
        ("with_remove_stopwords", None, TypeError, "v"),
        ("with_max_length", -1, OverflowError, "max"),
        ("with_max_length", 2**64, OverflowError, "max"),
        ("with_max_length", 1.5, TypeError, "max"),
        ("process", b"bytes", TypeError, "text"),
        ("process", "\udc80", UnicodeEncodeError, "text"),
    ],
)
def test_argument_errors(method, arg, error, parameter):
    with pytest.raises(error) as info:
        getattr(Preprocessor(), method)(arg)
    assert info.value.__notes__ == [f"while processing '{parameter}'"]


def test_binding_errors():
    with pytest.raises(TypeError, match=r"^Preprocessor\(\) takes 0 positional arguments but 1 was given$"):
        Preprocessor(True)
    with pytest.raises(TypeError, match=r"^Preprocessor\(\) got an unexpected keyword argument 'trim'$"):
        Preprocessor(trim=True)
    with pytest.raises(TypeError, match=r"^Preprocessor.with_trim\(\) missing 1 required positional argument: 'v'$"):
        Preprocessor().with_trim()
    with pytest.raises(TypeError, match=r"^clean_text\(\) got an unexpected keyword argument 's'$"):
        vorn.clean_text(s="x")
    assert Preprocessor().with_max_length(max=True).process(text="ab") == "a"  # bool is an int
    assert vorn.clean_text(text=" A ") == "a"


# Scripts whose normalisation and case mappings are stable across recent
# Unicode versions, plus combining marks and every whitespace character.
ALPHABET = (
    [chr(c) for c in range(0x20, 0x7F)]
    + [chr(c) for c in range(0xC0, 0x250)]
    + [chr(c) for c in range(0x391, 0x3CA) if c != 0x3A2]
    + [chr(c) for c in range(0x400, 0x460)]
    + [chr(c) for c in range(0x300, 0x315)]
    + ["\u4e00", "\u6587", "\u5b57", "\u3042", "\ud55c", "\u1100", "\u1161", "\u11a8", "\u0130", "\u212b", "\u2126"]
    + WHITESPACE
    + NOT_WHITESPACE
)

CONFIGS = [
    {},
    {"remove": True},
    {"trim": False},
    {"collapse": False},
    {"collapse": False, "trim": False},
    {"normalize": False},
    {"lowercase": False, "remove": True},
    {"remove": True, "stopwords": ("ab", "é", "σ")},
    {"max_length": 7},
    {"max_length": 1, "collapse": False},
]


def build(config):
    p = Preprocessor()
    p = p.with_normalize_unicode(config.get("normalize", True)).with_lowercase(config.get("lowercase", True))
    p = p.with_collapse_whitespace(config.get("collapse", True)).with_trim(config.get("trim", True))
    p = p.with_remove_stopwords(config.get("remove", False)).with_stopwords(list(config.get("stopwords", ())))
    return p.with_max_length(config.get("max_length", 0))


@pytest.mark.parametrize("config", CONFIGS, ids=str)
def test_pipeline_matches_reference_on_random_text(config):
    rng = random.Random(20261206)
    p = build(config)
    words = DEFAULT_STOPWORDS[:30] + ["ab", "é", "σ", "Σ", "ΣΑΣ"]
    for _ in range(400):
        pieces = [
            rng.choice(words) if rng.random() < 0.3 else "".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, 6)))
            for _ in range(rng.randint(0, 8))
        ]
        text = "".join(piece + rng.choice(WHITESPACE + [" ", " ", ""]) for piece in pieces)
        assert p.process(text) == reference(text, **config), ascii(text)


def test_long_texts_and_ascii_fast_paths():
    text = ("Hello WORLD\t" * 100_000)[:-1]
    assert vorn.clean_text(text) == " ".join(["hello world"] * 100_000)
    mixed = "Ünïcödé ΣΊΣΥΦΟΣ  " * 10_000
    assert vorn.clean_text(mixed) == reference(mixed)


@pytest.mark.parametrize(
    "call, arg, expect",
    [
        (vorn.clean_text, " Some  TEXT é ", None),
        (vorn.clean_text_stopwords, "the cat", None),
        (lambda words: Preprocessor().with_stopwords(words), ["a", "b"], None),
        (lambda words: Preprocessor().with_stopwords(words), ["a", 1], TypeError),
        (lambda words: Preprocessor().with_stopwords(words), "the", TypeError),
        (lambda text: Preprocessor().with_max_length(2).process(text), "héllo", None),
        (vorn.clean_text, 5, TypeError),
    ],
)
def test_no_leaks(no_leak, call, arg, expect):
    no_leak(call, arg, calls=30_000, expect=expect)
