"""Plain reference implementations of every algorithm, the seeded
random-text helpers the differential tests feed to them and to vorn, and
the table of every vorn callable with valid arguments."""

import math
import random
import re
import unicodedata
from collections import Counter

import vorn

M64 = 2**64 - 1
P61 = 2**61 - 1
GOLDEN = 0x9E3779B97F4A7C15
# The 25 White_Space characters, and lookalikes that are not white space.
WHITE_SPACE = "\t\n\v\f\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"
NOT_WHITE_SPACE = "\x1c\x1d\x1e\x1f\u200b\u180e\ufeff"
ALPHABETS = {
    "binary": "ab",
    "ascii": "abcdefgh \0",
    "mixed": "abéè漢😀 \u0301",
    "wide": [chr(c) for c in range(0x400, 0x400 + 300)],  # many distinct non-ASCII characters
}
# Lengths around the 64-character words and the 128/192 block borders of the bit-parallel code.
BOUNDARY_LENGTHS = [0, 1, 2, 3, 31, 63, 64, 65, 127, 128, 129, 191, 192, 193, 300]


def random_text(rng, alphabet, length):
    return "".join(rng.choice(alphabet) for _ in range(length))


def edited(rng, alphabet, text, edits=None):
    """text with a few insertions, deletions, substitutions and swaps."""
    chars = list(text)
    for _ in range(edits or rng.randrange(1, 8)):
        pos, op = rng.randrange(len(chars) + 1), rng.randrange(4)
        if op == 0 or pos >= len(chars):
            chars.insert(pos, rng.choice(alphabet))
        elif op == 1:
            del chars[pos]
        elif op == 2:
            chars[pos] = rng.choice(alphabet)
        elif pos + 1 < len(chars):
            chars[pos], chars[pos + 1] = chars[pos + 1], chars[pos]
    return "".join(chars)


def random_pairs(seed, alphabet, count, lengths=BOUNDARY_LENGTHS):
    """Pairs of unrelated texts and of texts a few edits apart."""
    rng = random.Random(seed)
    for _ in range(count):
        a = random_text(rng, alphabet, rng.choice(lengths))
        yield a, edited(rng, alphabet, a) if rng.random() < 0.5 else random_text(rng, alphabet, rng.choice(lengths))


def random_words(rng, words, max_words, separators=WHITE_SPACE):
    parts = [rng.choice(separators) if rng.random() < 0.2 else ""]
    for _ in range(rng.randrange(max_words + 1)):
        parts += [rng.choice(words), rng.choice(separators)]
    return "".join(parts[:-1] if rng.random() < 0.5 else parts)


def levenshtein_distance(a, b):
    row = list(range(len(a) + 1))
    for i, cb in enumerate(b, 1):
        diagonal, row[0] = row[0], i
        for j, ca in enumerate(a, 1):
            above = row[j]
            row[j] = min(above + 1, row[j - 1] + 1, diagonal + (ca != cb))
            diagonal = above
    return row[-1]


def levenshtein_similarity(a, b):
    longest = max(len(a), len(b))
    return 1.0 if longest == 0 else 1.0 - levenshtein_distance(a, b) / longest


def hamming_distance(a, b):
    return sum(x != y for x, y in zip(a, b))


def hamming_similarity(a, b):
    return 1.0 if not a else 1.0 - hamming_distance(a, b) / len(a)


def jaro_winkler_similarity(a, b):
    if a == b:
        jaro = 1.0
    elif not a or not b:
        jaro = 0.0
    else:
        window = max(max(len(a), len(b)) // 2 - 1, 0)
        flags_a, flags_b, m = [False] * len(a), [False] * len(b), 0
        for i, c in enumerate(a):
            for j in range(max(0, i - window), min(len(b), i + window + 1)):
                if not flags_b[j] and b[j] == c:
                    flags_a[i] = flags_b[j] = True
                    m += 1
                    break
        t = k = 0
        for i, c in enumerate(a):
            if flags_a[i]:
                while not flags_b[k]:
                    k += 1
                t += c != b[k]
                k += 1
        jaro = 0.0 if m == 0 else ((m / len(a) + m / len(b)) + (m - t // 2) / m) / 3.0
    prefix = 0
    for x, y in zip(a, b):
        if x != y or prefix == 4:
            break
        prefix += 1
    return (1.0 - jaro) * (prefix * 0.1) + jaro


def shingles(text, k):
    """Character windows of k; a text shorter than k is its own only window."""
    return [text] if len(text) < k else [text[p : p + k] for p in range(len(text) - k + 1)]


def jaccard_similarity(a, b, n):
    if a == b:
        return 1.0
    x, y = set(shingles(a, n)), set(shingles(b, n))
    return len(x & y) / len(x | y)


def words(text):
    return [w for w in re.split(f"[{re.escape(WHITE_SPACE)}]", text) if w]


def jaccard_word_similarity(a, b):
    x, y = set(words(a)), set(words(b))
    return 1.0 if not x and not y else len(x & y) / len(x | y)


def fnv1a(text):
    h = 0xCBF29CE484222325
    for byte in text.encode():
        h = ((h ^ byte) * 0x100000001B3) & M64
    return h


def minhash_signature(text, k, m):
    hashes = {fnv1a(s) for s in shingles(text, k)}
    signature = []
    for i in range(m):
        b = ((i + 1) * GOLDEN + 0x1234) & M64
        a = ((b + 0x9999) & M64) | 1
        signature.append(min(((a * h + b) & M64) % P61 for h in hashes))
    return signature


def minhash_similarity(a, b, k, m):
    if m == 0:
        return math.nan
    return sum(x == y for x, y in zip(minhash_signature(a, k, m), minhash_signature(b, k, m))) / m


def simhash_fingerprint(text, k):
    counters = [0] * 64
    for window in shingles(text, k):
        h = fnv1a(window)
        for i in range(64):
            counters[i] += 1 if (h >> i) & 1 else -1
    return sum(1 << i for i in range(64) if counters[i] > 0)


def simhash_similarity(a, b, k):
    return 1.0 + bin(simhash_fingerprint(a, k) ^ simhash_fingerprint(b, k)).count("1") * -0.015625


PUNCTUATION = "".join(chr(c) for c in range(0x21, 0x7F) if not chr(c).isalnum())
TERM_SEPARATOR = re.compile("[" + re.escape(WHITE_SPACE + PUNCTUATION) + "]+")


def terms(text):
    return [piece.lower() for piece in TERM_SEPARATOR.split(text) if piece]


def tfidf_similarity(a, b):
    """Sums taken in order of first occurrence, as vorn does."""
    ca, cb = Counter(terms(a)), Counter(terms(b))

    def vector(counts):
        length, weights, s = sum(counts.values()), {}, 0.0
        for term, count in counts.items():
            df = (term in ca) + (term in cb)
            weights[term] = w = (count / length) * (math.log(3.0 / (df + 1.0)) + 1.0)
            s += w * w
        return weights, math.sqrt(s)

    (wa, na), (wb, nb) = vector(ca), vector(cb)
    if na == 0.0 or nb == 0.0:
        return 1.0 if not wa and not wb else 0.0
    dot = -0.0
    for term, w in wa.items():
        if term in wb:
            dot += w * wb[term]
    return min(dot / (na * nb), 1.0) + 0.0


def bm25_similarity(a, b):
    query, docs = terms(a), [terms(a), terms(b)]
    tf = [Counter(d) for d in docs]
    df = Counter(t for counts in tf for t in counts)
    average = (len(docs[0]) + len(docs[1])) * 0.5

    def score(doc):
        if not query or not df:
            return 0.0
        k = ((len(docs[doc]) * 0.75) / average + (1 - 0.75)) * 1.2
        s = 0.0
        for t in query:
            idf = math.log(((2 - df[t]) + 0.5) / (df[t] + 0.5) + 1.0)
            f = float(tf[doc][t])
            s = s + idf * ((f * (1.2 + 1.0)) / (f + k))
        return s

    best = max(0.0, score(0), score(1))
    return score(1) / best if best > 0.0 else 0.0


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


def preprocess(
    text, normalize=True, lowercase=True, collapse=True, trim=True, remove=False, stopwords=(), max_length=0
):
    if normalize:
        text = unicodedata.normalize("NFC", text)
    if lowercase:
        text = text.lower()
    if collapse:
        text = re.sub(f"[{re.escape(WHITE_SPACE)}]+", " ", text)
    if trim:
        text = text.strip(WHITE_SPACE)
    if remove:
        dropped = set(stopwords or DEFAULT_STOPWORDS)
        text = " ".join(w for w in words(text) if w not in dropped)
    data = text.encode()
    if max_length and len(data) > max_length:
        cut = max_length
        while cut > 0 and (data[cut] & 0xC0) == 0x80:  # back to a character boundary
            cut -= 1
        text = data[:cut].decode()
    return text


# Every vorn callable with valid arguments by name; the names are its text signature.
FLOW = vorn.VornFlow().tier_1("levenshtein", "gt", 0.9, "lt", 0.1)
PREPROCESSOR = vorn.Preprocessor()
TEXT = {"a": "abc", "b": "abd"}
CALLS = {
    **{
        name: (getattr(vorn, name), TEXT)
        for name in (
            "levenshtein_distance",
            "levenshtein_similarity",
            "jaro_winkler_similarity",
            "hamming_similarity",
            "hamming_distance",
        )
    },
    "jaccard_similarity": (vorn.jaccard_similarity, {**TEXT, "n": 2}),
    **{
        name: (getattr(vorn, name), TEXT)
        for name in ("jaccard_bigram_similarity", "jaccard_trigram_similarity", "jaccard_word_similarity")
    },
    "minhash_signature": (vorn.minhash_signature, {"text": "abc", "shingle_size": 2, "num_hashes": 4}),
    "minhash_similarity": (vorn.minhash_similarity, {**TEXT, "shingle_size": 2, "num_hashes": 4}),
    "minhash_similarity_default": (vorn.minhash_similarity_default, TEXT),
    "simhash_fingerprint": (vorn.simhash_fingerprint, {"text": "abc", "shingle_size": 2}),
    "simhash_fingerprint_default": (vorn.simhash_fingerprint_default, {"text": "abc"}),
    "simhash_similarity": (vorn.simhash_similarity, {**TEXT, "shingle_size": 2}),
    **{
        name: (getattr(vorn, name), TEXT)
        for name in ("simhash_similarity_default", "bm25_similarity", "tfidf_similarity")
    },
    "clean_text": (vorn.clean_text, {"text": " A "}),
    "clean_text_stopwords": (vorn.clean_text_stopwords, {"text": "the A"}),
    "Preprocessor.with_trim": (PREPROCESSOR.with_trim, {"v": False}),
    "Preprocessor.with_lowercase": (PREPROCESSOR.with_lowercase, {"v": False}),
    "Preprocessor.with_stopwords": (PREPROCESSOR.with_stopwords, {"words": ["a"]}),
    "Preprocessor.with_max_length": (PREPROCESSOR.with_max_length, {"max": 5}),
    "Preprocessor.with_remove_stopwords": (PREPROCESSOR.with_remove_stopwords, {"v": True}),
    "Preprocessor.with_normalize_unicode": (PREPROCESSOR.with_normalize_unicode, {"v": False}),
    "Preprocessor.with_collapse_whitespace": (PREPROCESSOR.with_collapse_whitespace, {"v": False}),
    "Preprocessor.process": (PREPROCESSOR.process, {"text": " A "}),
    "VornFlow.preprocess": (FLOW.preprocess, {"enable": True}),
    "VornFlow.tier_1": (
        FLOW.tier_1,
        {"algo": "levenshtein", "match_op": "gt", "match_val": 0.9, "mismatch_op": "lt", "mismatch_val": 0.1},
    ),
    "VornFlow.tier_2": (FLOW.tier_2, {"algo": "levenshtein", "op": "between", "val1": 0.1, "val2": 0.9}),
    "VornFlow.compare_with_intent": (FLOW.compare_with_intent, {"intent": "names", **TEXT}),
    "VornFlow.compare": (FLOW.compare, TEXT),
}


# ---- corpora of near-duplicates ----

_rng = random.Random(17)
DOCUMENT_WORDS = [
    "".join(_rng.choice("abcdefghijklmnopqrstuvwxyzé") for _ in range(_rng.randint(2, 9))) for _ in range(300)
]


def document(r, words=60):
    """A text of random words of a fixed vocabulary."""
    return " ".join(r.choice(DOCUMENT_WORDS) for _ in range(words))


def near_copy(r, text, edits):
    """text with `edits` character substitutions, deletions and insertions."""
    chars = list(text)
    for _ in range(edits):
        p = r.randrange(len(chars))
        op = r.random()
        if op < 0.4:
            chars[p] = r.choice("xyzñ ")
        elif op < 0.7:
            del chars[p]
        else:
            chars.insert(p, r.choice("qwö"))
    return "".join(chars)


def planted_corpus(seed, originals=40, copies=3, max_edits=12):
    """Documents with up to `copies` near copies each, a few short texts and
    an exact copy, shuffled."""
    r = random.Random(seed)
    texts = []
    for _ in range(originals):
        base = document(r)
        texts.append(base)
        texts.extend(near_copy(r, base, r.randint(0, max_edits)) for _ in range(r.randint(0, copies)))
    texts += ["", "a", "ab", texts[0]]  # short texts, and an exact copy
    r.shuffle(texts)
    return texts
