"""Every algorithm against its plain reference (tests/reference.py) on seeded
random texts: characters of one to four UTF-8 bytes, lengths around the
64-character words and blocks of the bit-parallel code, texts a few edits
apart and unrelated ones; then the values fixed by the contract."""

import math
import os
import random
import re
import string
import subprocess
import sys

import pytest
import reference as ref
import vorn

PAIR_FUNCTIONS = {
    "levenshtein_distance": (vorn.levenshtein_distance, ref.levenshtein_distance),
    "levenshtein_similarity": (vorn.levenshtein_similarity, ref.levenshtein_similarity),
    "jaro_winkler_similarity": (vorn.jaro_winkler_similarity, ref.jaro_winkler_similarity),
    "jaccard_bigram_similarity": (vorn.jaccard_bigram_similarity, lambda a, b: ref.jaccard_similarity(a, b, 2)),
    "jaccard_trigram_similarity": (vorn.jaccard_trigram_similarity, lambda a, b: ref.jaccard_similarity(a, b, 3)),
    "jaccard_word_similarity": (vorn.jaccard_word_similarity, ref.jaccard_word_similarity),
    "simhash_similarity_default": (vorn.simhash_similarity_default, lambda a, b: ref.simhash_similarity(a, b, 4)),
    "tfidf_similarity": (vorn.tfidf_similarity, ref.tfidf_similarity),
    "bm25_similarity": (vorn.bm25_similarity, ref.bm25_similarity),
}


@pytest.mark.parametrize("alphabet", ref.ALPHABETS)
@pytest.mark.parametrize("name", PAIR_FUNCTIONS)
def test_pair_functions_against_reference(name, alphabet):
    function, reference = PAIR_FUNCTIONS[name]
    for a, b in ref.random_pairs(f"{name}-{alphabet}", ref.ALPHABETS[alphabet], 50):
        assert function(a, b) == reference(a, b), (a, b)


@pytest.mark.parametrize("alphabet", ref.ALPHABETS)
def test_hamming_against_reference(alphabet):
    rng = random.Random(f"hamming-{alphabet}")
    for length in ref.BOUNDARY_LENGTHS + [1000]:
        a, b = (ref.random_text(rng, ref.ALPHABETS[alphabet], length) for _ in range(2))
        assert vorn.hamming_distance(a, b) == ref.hamming_distance(a, b)
        assert vorn.hamming_similarity(a, b) == ref.hamming_similarity(a, b)


@pytest.mark.parametrize("alphabet", ["binary", "mixed"])
@pytest.mark.parametrize("la, lb", [(700, 700), (1500, 300), (300, 1500), (1200, 1100)])
def test_long_texts_against_reference(la, lb, alphabet):
    # Many words per text: windows slide past whole words, alignments span blocks.
    rng = random.Random(f"long-{la}-{lb}-{alphabet}")
    chars = ref.ALPHABETS[alphabet]
    a = ref.random_text(rng, chars, la)
    b = ref.edited(rng, chars, a, 10)[:lb] if lb <= la else ref.random_text(rng, chars, lb)
    assert vorn.jaro_winkler_similarity(a, b) == ref.jaro_winkler_similarity(a, b)
    assert vorn.jaro_winkler_similarity(b, a) == ref.jaro_winkler_similarity(b, a)
    assert vorn.levenshtein_distance(a, b) == ref.levenshtein_distance(a, b)


@pytest.mark.parametrize("late", [False, True])
@pytest.mark.parametrize("moved, length, grow", [(1, 400, 90), (70, 260, -20), (70, 260, 1), (150, 330, 0)])
def test_levenshtein_alignments_far_from_the_diagonal(moved, length, grow, late):
    # A run deleted early and re-inserted late: the multi-block path, which skips
    # cells that cannot beat its bound, must still find the far alignment.
    rng = random.Random(f"shift-{moved}-{length}-{grow}-{late}")
    a = ref.random_text(rng, "abcdefghij", length)
    cut = (length - moved) * 7 // 8 if late else length // 3
    b = list(a[5:cut] + a[cut + moved :])
    b[-5:-5] = ref.random_text(rng, "abcdefghij", moved + grow)
    for _ in range(3):
        b[rng.randrange(len(b))] = rng.choice("klm")
    b = "".join(b)
    assert vorn.levenshtein_distance(a, b) == vorn.levenshtein_distance(b, a) == ref.levenshtein_distance(a, b)


# A pattern of up to 64 characters compared once, ASCII or all below
# U+10000, is matched by comparing characters in registers (16 bytes or 8
# UTF-16 units to a register): lengths around the registers, NUL, characters
# that share their low byte or low 16 bits with a pattern's, and patterns
# with a character beyond U+FFFF, which take the tables.
@pytest.mark.parametrize("alphabet", ["ab\0c", "жЖ\0ё€😀a"])
@pytest.mark.parametrize("length", [1, 2, 4, 5, 15, 16, 17, 31, 32, 33, 48, 49, 63, 64, 65])
def test_short_patterns_across_registers(length, alphabet):
    rng = random.Random(f"short-pattern-{length}-{alphabet}")
    a = ref.random_text(rng, alphabet, length)
    byte_shadows = "".join(chr(0x100 + ord(c)) for c in a)
    unit_shadows = "".join(chr(0x10000 + ord(c)) for c in a)
    others = (ref.edited(rng, alphabet, a, 3) + "d", byte_shadows + "\u0101", unit_shadows + "x")
    for b in (*others, "c" + byte_shadows[::2] + a[1::2], "\0" * 70):
        assert vorn.levenshtein_distance(a, b) == vorn.levenshtein_distance(b, a) == ref.levenshtein_distance(a, b)
        assert vorn.jaro_winkler_similarity(a, b) == ref.jaro_winkler_similarity(a, b), b
        assert vorn.jaro_winkler_similarity(b, a) == ref.jaro_winkler_similarity(b, a), b


SIZES = [1, 2, 3, 4, 5, 9, 17, 2**64 - 1]


def test_sized_functions_against_reference():
    rng = random.Random("sized")
    chars = ref.ALPHABETS["mixed"]
    for _ in range(300):
        a = ref.random_text(rng, chars, rng.randrange(40) if rng.random() < 0.8 else rng.randrange(700))
        b = ref.edited(rng, chars, a) if rng.random() < 0.5 else ref.random_text(rng, chars, rng.randrange(60))
        k = rng.choice(SIZES + [max(1, len(a)), len(a) + 1])
        m = rng.choice([0, 1, 2, 5, 20, 128, 257])  # 257 hashes span two blocks of permutations
        assert vorn.jaccard_similarity(a, b, k) == ref.jaccard_similarity(a, b, k), (a, b, k)
        assert vorn.simhash_fingerprint(a, k) == ref.simhash_fingerprint(a, k), (a, k)
        assert vorn.simhash_similarity(a, b, k) == ref.simhash_similarity(a, b, k)
        if len(a) < 40:
            assert vorn.minhash_signature(a, k, m) == ref.minhash_signature(a, k, m), (a, k, m)
            got, want = vorn.minhash_similarity(a, b, k, m), ref.minhash_similarity(a, b, k, m)
            assert got == want or math.isnan(got) and math.isnan(want)


@pytest.mark.parametrize("length", [254, 255, 256, 257, 510, 511, 766, 3000])
def test_many_shingles_against_reference(length):
    # Byte-lane vote counters flush around 255 shingles; hash sets grow several times.
    rng = random.Random(f"shingles-{length}")
    text = "".join(chr(rng.randrange(0x61, 0x61 + 40)) for _ in range(length))
    assert vorn.simhash_fingerprint(text, 2) == ref.simhash_fingerprint(text, 2)
    assert vorn.simhash_fingerprint(text[0] * length, 1) == ref.fnv1a(text[0])  # all votes equal
    assert vorn.minhash_signature(text, 2, 20) == ref.minhash_signature(text, 2, 20)
    assert vorn.minhash_similarity_default(text, text[::-1]) == ref.minhash_similarity(text, text[::-1], 3, 128)


@pytest.mark.parametrize("k", range(1, 10))
def test_minhash_ascii_windows_against_reference(k):
    # ASCII shingles of up to 8 bytes are deduplicated as packed words read 8 bytes at
    # a time, the last few from a copy of the text's end; all-NUL windows pack to 0.
    rng = random.Random(f"ascii-windows-{k}")
    for length in sorted({max(0, k - 1), k, k + 1, 7, 8, 9, 15, 16, 17, 23, 64, 300}):
        text = "".join(rng.choice("\0\0\0ab\x7f") for _ in range(length))
        assert vorn.minhash_signature(text, k, 9) == ref.minhash_signature(text, k, 9), (text, k)


@pytest.mark.parametrize("k", [1, 2, 3, 4])
def test_minhash_mostly_ascii_against_reference(k):
    # Short shingles of mostly ASCII text: the ASCII windows through a bitmap, the
    # windows holding other characters apart, at the ends of the text too. Short texts
    # take the bitmap once their thread's scratch has served 8 KiB; a text past that
    # size gets a scratch of its own and takes it at once.
    rng = random.Random(f"mostly-ascii-{k}")
    for length, trials in ((k, 25), (k + 1, 25), (9, 25), (40, 25), (200, 25), (9000, 2)):
        for _ in range(trials):
            text = "".join(rng.choice("ab c") if rng.random() < 0.9 else rng.choice("é€😀ß") for _ in range(length))
            assert vorn.minhash_signature(text, k, 9) == ref.minhash_signature(text, k, 9), (text, k)


WORDS = [
    "cat",
    "Cat",
    "CAT",
    "the",
    "ΟΔΟΣ",
    "σοφία",
    "École",
    "straße",
    "İstanbul",
    "don’t",
    "route66",
    "a",
    "x\u200by",
    "ΑΣ",
    "Σ",
    "ὈΔΥΣΣΕΎΣ",
    "日本",
    "😀",
    *ref.NOT_WHITE_SPACE,
]
SEPARATORS = [*ref.WHITE_SPACE, *ref.PUNCTUATION, " ", ", ", "...", " - ", "\r\n"]


@pytest.mark.parametrize("max_words", [8, 400])
def test_word_functions_against_reference(max_words):
    rng = random.Random(f"words-{max_words}")
    vocabulary = WORDS + ["".join(rng.choice("abcÉß") for _ in range(rng.randrange(1, 5))) for _ in range(300)]
    ascii_words = ["".join(rng.sample(string.ascii_lowercase + "0", rng.randrange(1, 4))) for _ in range(100)]
    vocabulary += [variant for w in ascii_words for variant in (w, w.upper(), w.capitalize())]
    for _ in range(3000 // max_words):
        a, b = (ref.random_words(rng, vocabulary, max_words, SEPARATORS) for _ in range(2))
        for x, y in ((a, b), (b, a)):
            assert vorn.tfidf_similarity(x, y) == ref.tfidf_similarity(x, y), (x, y)
            assert vorn.bm25_similarity(x, y) == ref.bm25_similarity(x, y), (x, y)
            assert vorn.jaccard_word_similarity(x, y) == ref.jaccard_word_similarity(x, y), (x, y)


# The tokeniser classifies 64 bytes at a time: separators of several bytes,
# capitals and non-ASCII letters straddling a block boundary.
@pytest.mark.parametrize("middle", ["\u3000", "\u00a0", "\u2028", "É", "Σ", " Cat ", "--", "ΟΔΟΣ"])
def test_terms_across_blocks(middle):
    for offset in [*range(58, 66), *range(122, 130)]:
        for text in ("x" * offset + middle + "yz", "ab " * (offset // 3) + "q" * (offset % 3) + middle + "Yz"):
            for other in ("x yz Cat", "ab ΟΔΟΣ é σ"):
                assert vorn.tfidf_similarity(text, other) == ref.tfidf_similarity(text, other), (offset, text)
                assert vorn.bm25_similarity(other, text) == ref.bm25_similarity(other, text), (offset, text)


def _word_table_hash(word: bytes) -> int:
    """The word tables' hash of a term of 9 bytes or more (support/hash.hpp)."""
    mask = (1 << 64) - 1

    def mix(x: int) -> int:
        for _ in range(2):
            x = ((x ^ (x >> 32)) * 0xD6E8FEB86659FD93) & mask
        return x ^ (x >> 32)

    h = (len(word) * 0x9E3779B97F4A7C15) & mask
    rest = len(word)
    while rest > 8:
        h = ((h ^ int.from_bytes(word[len(word) - rest : len(word) - rest + 8], "little")) * 0xBF58476D1CE4E5B9) & mask
        h ^= h >> 31
        rest -= 8
    return mix(h ^ int.from_bytes(word[-8:], "little"))


# Terms past 8 bytes whose table hashes and sizes agree, found by search:
# only their bytes tell them apart (16 bytes: by two words, 24: by memcmp).
@pytest.mark.parametrize(
    "first, second",
    [("rs18bf38il5pj3jo", "pysvnjksegc05ste"), ("munttitzfk1azel7e2r90pzm", "63ljnbkxgwspj97mnat5jczs")],
)
def test_terms_with_colliding_hashes_stay_apart(first, second):
    assert _word_table_hash(first.encode()) == _word_table_hash(second.encode())
    assert vorn.tfidf_similarity(first, second) == 0.0
    assert vorn.bm25_similarity(first, second) == 0.0
    assert vorn.jaccard_word_similarity(first, second) == 0.0
    assert vorn.jaccard_word_similarity(f"{first} {second}", first) == 0.5


DETERMINISM_CODE = """
import random, sys, vorn
sys.path.insert(0, {tests!r})
import reference as ref
rng = random.Random("processes")
pairs = [[ref.random_words(rng, ["cat", "dog", "ΣΑΣ", "x"] + list("abcdefghij"), 30) for _ in "ab"] for _ in range(300)]
print([vorn.tfidf_similarity(a, b).hex() for a, b in pairs])
"""


def test_same_bits_in_every_process():
    code = DETERMINISM_CODE.format(tests=os.path.dirname(__file__))
    outputs = {
        subprocess.run(
            [sys.executable, "-c", code],
            capture_output=True,
            text=True,
            check=True,
            env={**os.environ, "PYTHONHASHSEED": seed},
        ).stdout
        for seed in ("0", "1", "4242")
    }
    assert len(outputs) == 1


CONFIGS = [
    {},
    {"remove": True},
    {"trim": False},
    {"collapse": False, "trim": False},
    {"normalize": False},
    {"lowercase": False, "remove": True},
    {"remove": True, "stopwords": ("ab", "é", "σ")},
    {"max_length": 7},
    {"max_length": 1, "collapse": False},
]
# Scripts whose normalisation and case mappings are stable across recent Unicode versions.
TEXT_ALPHABET = (
    [chr(c) for c in [*range(0x20, 0x7F), *range(0xC0, 0x250), *range(0x391, 0x3CA), *range(0x400, 0x460)]]
    + [chr(c) for c in range(0x300, 0x315)]
    + list("\u4e00\ud55c\u1100\u1161\u11a8\u0130\u212b\u2126" + ref.WHITE_SPACE + ref.NOT_WHITE_SPACE)
)


@pytest.mark.parametrize("config", CONFIGS, ids=str)
def test_preprocessor_against_reference(config):
    p = (
        vorn.Preprocessor()
        .with_normalize_unicode(config.get("normalize", True))
        .with_lowercase(config.get("lowercase", True))
        .with_collapse_whitespace(config.get("collapse", True))
        .with_trim(config.get("trim", True))
        .with_remove_stopwords(config.get("remove", False))
        .with_stopwords(list(config.get("stopwords", ())))
        .with_max_length(config.get("max_length", 0))
    )
    rng = random.Random("preprocess")
    vocabulary = ref.DEFAULT_STOPWORDS[:30] + ["ab", "é", "σ", "Σ", "ΣΑΣ"]
    vocabulary += ["".join(rng.choice(TEXT_ALPHABET) for _ in range(rng.randint(0, 6))) for _ in range(500)]
    ascii_vocabulary = ["".join(rng.choice(string.printable) for _ in range(rng.randint(0, 12))) for _ in range(100)]
    for i in range(400):
        # one text in four all ASCII, for the paths that skip ICU
        if i % 4:
            text = ref.random_words(rng, vocabulary, 8, [*ref.WHITE_SPACE, " ", ""])
        else:
            text = ref.random_words(rng, ascii_vocabulary, 8, [" ", "\t", "\n", "  ", ""])
        assert p.process(text) == ref.preprocess(text, **config), ascii(text)
    if config == {}:
        assert vorn.clean_text(text) == ref.preprocess(text)
    if config == {"remove": True}:
        assert vorn.clean_text_stopwords(text) == ref.preprocess(text, remove=True)


def listed(value):
    """A value given to ten decimal places."""
    return pytest.approx(value, abs=1e-10, rel=0)


@pytest.mark.parametrize(
    "function, a, b, expected",
    [
        (vorn.levenshtein_similarity, "kitten", "sitting", 0.5714285714285714),
        (vorn.levenshtein_distance, "\u00e9", "e\u0301", 2),  # no normalisation
        (vorn.jaro_winkler_similarity, "MARTHA", "MARHTA", 0.9611111111111111),
        (vorn.jaro_winkler_similarity, "DIXON", "DICKSONX", 0.8133333333333332),
        (vorn.jaro_winkler_similarity, "abcxyz", "bcaxyz", 0.9444444444444445),  # 3 mismatches: 1 transposition
        (vorn.jaro_winkler_similarity, "abcd" + "x" * 30, "abcd" + "y" * 30, 0.6470588235294118),  # boost below 0.7 too
        (vorn.hamming_similarity, "karolin", "kathrin", 0.5714285714285714),
        (vorn.jaccard_bigram_similarity, "night", "nacht", 0.14285714285714285),
        (vorn.jaccard_word_similarity, "é", "e\u0301", 0.0),
        (vorn.minhash_similarity_default, "same text", "same text", 1.0),
        (vorn.simhash_similarity_default, "hello world", "hello world!", 0.90625),
        (vorn.tfidf_similarity, "Hello, World!", "hello world", 0.9999999999999998),
        (vorn.tfidf_similarity, "a b c c", "a b c c", 1.0),  # the cosine rounds above 1 and is capped
        (vorn.tfidf_similarity, "...", "!!! \u3000", 1.0),
        (vorn.bm25_similarity, "the cat", "the cat sat on the mat", listed(0.8096407340)),
        (vorn.bm25_similarity, "the cat sat on the mat", "the cat", listed(0.2967352641)),
        (vorn.bm25_similarity, "cat cat dog", "cat", listed(0.4516283148)),
        (vorn.tfidf_similarity, "the cat", "the cat sat on the mat", listed(0.6417645565)),
        (vorn.tfidf_similarity, "cat cat dog", "cat dog dog", listed(0.8)),
    ],
)
def test_contract_values(function, a, b, expected):
    assert function(a, b) == expected


@pytest.mark.parametrize(
    "text, k, m, expected",
    [
        ("abc", 3, 2, [107385297314013898, 2242858558886249666]),
        ("", 2**64 - 1, 2, [214467063832468254, 1007223326381081109]),
    ],
)
def test_minhash_worked_values(text, k, m, expected):
    assert vorn.minhash_signature(text, k, m) == expected
    assert math.isnan(vorn.minhash_similarity(text, text, k, 0))


@pytest.mark.parametrize("text, expected", [("", 0xCBF29CE484222325), ("hello world", 0x4A98F4A451080124)])
def test_simhash_worked_values(text, expected):
    assert vorn.simhash_fingerprint_default(text) == vorn.simhash_fingerprint(text, 4) == expected


@pytest.mark.parametrize(
    "text, expected",
    [
        ("  Hello,   World!  ", "hello, world!"),
        ("e\u0301", "\xe9"),  # composed
        ("\ufb01 \u00b2 \uff21", "\ufb01 \u00b2 \uff41"),  # compatibility characters stay
        ("\u0130", "i\u0307"),  # one character in, two out
        ("ΟΔΟΣ ΣΟΦΟΣ. ΑΣΑ Σ", "οδος σοφος. ασα σ"),  # final sigma
        ("\ud55c\uae00 \u1100\u1161\u11a8", "\ud55c\uae00 \uac01"),  # Hangul composition
    ],
)
def test_clean_text_values(text, expected):
    assert vorn.clean_text(text) == vorn.Preprocessor().process(text) == expected


def test_default_stopwords():
    assert len(set(ref.DEFAULT_STOPWORDS)) == 183
    everything = " ".join(ref.DEFAULT_STOPWORDS)
    assert vorn.clean_text_stopwords(everything) == vorn.clean_text_stopwords(everything.upper()) == ""
    assert vorn.clean_text_stopwords("I'm here, and you?") == "i'm here, you?"


@pytest.mark.parametrize(
    "build, text, expected",
    [
        (lambda p: p.with_remove_stopwords(True).with_stopwords(["Cat", ""]), "the cat sat", "the cat sat"),
        (lambda p: p.with_remove_stopwords(True).with_stopwords(["x"]).with_stopwords(["y"]), "x y z", "x z"),
        (lambda p: p.with_remove_stopwords(True).with_stopwords(("é",)), "e\u0301 x", "x"),  # NFC before matching
        (lambda p: p.with_max_length(2), "héllo", "h"),  # would cut inside 'é'
        (lambda p: p.with_max_length(2**64 - 1), "héllo", "héllo"),
        (lambda p: p.with_max_length(1), "\u0130", "i"),  # lowercasing grows the text first
    ],
)
def test_configured_pipelines(build, text, expected):
    assert build(vorn.Preprocessor()).process(text) == expected


MEMORY = "{memory}"  # in a message: the machine's memory, whatever it is


def refused(m):
    return f"{m} hashes need more memory than this machine has"


@pytest.mark.parametrize(
    "call, error, message",
    [
        *[
            (lambda f=f, a=a, b=b: f(a, b), ValueError, "Strings must have equal length")
            for f in (vorn.hamming_distance, vorn.hamming_similarity)
            for a, b in [("abc", "abcd"), ("", "a"), ("é", "ab"), ("日", "abc"), ("😀", "éé")]
        ],  # equal bytes
        (lambda: vorn.jaccard_similarity("", "a", 0), ValueError, "window size must be non-zero"),
        (lambda: vorn.minhash_signature("abc", 0, 2**62), ValueError, "window size must be non-zero"),  # checked first
        (lambda: vorn.minhash_similarity("", "abc", 0, 128), ValueError, "window size must be non-zero"),
        (lambda: vorn.simhash_fingerprint("", 0), ValueError, "window size must be non-zero"),
        (lambda: vorn.simhash_similarity("a", "b", 0), ValueError, "window size must be non-zero"),
        # refused before anything is allocated: no address space holds these
        *[
            (lambda m=m: vorn.minhash_signature("hello", 2, m), MemoryError, f"{refused(m)} ({MEMORY} bytes)")
            for m in (2**50, 2**64 - 1)
        ],
        (lambda: vorn.minhash_similarity("abc", "abd", 3, 2**60), MemoryError, f"{refused(2**60)} ({MEMORY} bytes)"),
    ],
)
def test_value_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error and not getattr(info.value, "__notes__", None)
    if message is not None:
        assert re.fullmatch(re.escape(message).replace(re.escape(MEMORY), r"\d+"), str(info.value)), str(info.value)


# Sizes between what fits and what any address space holds, under an
# address-space limit of 1 GiB, which then is the limit that counts (and
# keeps a missing check from taking the machine's memory: it shows as a
# MemoryError without the message). With overcommit, 2**31 hashes would be
# granted and the process killed while the list of ints is built.
LIMITED_CALLS = """
import resource
limit = 1 << 30
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
import vorn
def outcome(call):
    try:
        call()
        return "ok"
    except MemoryError as error:
        return str(error)
print(repr([outcome(lambda: vorn.minhash_signature("hello", 2, m)) for m in {sizes}]
           + [outcome(lambda: vorn.minhash_similarity("hello", "help", 2, m)) for m in {pair_sizes}]))
"""


@pytest.mark.skipif(os.environ.get("VORN_SANITIZED") == "1", reason="AddressSanitizer needs a vast address space")
def test_size_check_reads_the_process_limit():
    limit = 1 << 30
    sizes, pair_sizes = [2**16, 2**31, limit // 64 + 1, limit // 8 + 1], [2**16, limit // 16 + 1]
    code = LIMITED_CALLS.format(sizes=sizes, pair_sizes=pair_sizes)
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    expected = ["ok" if m == 2**16 else f"{refused(m)} ({limit} bytes)" for m in sizes + pair_sizes]
    assert eval(run.stdout) == expected
