"""What is measured: each vorn function beside the peers a user would pick.

A peer library that is not installed is left out and named in the report.
Every callable of a case takes the same argument tuples.
"""

from __future__ import annotations

import importlib
import operator
import re
import unicodedata
from collections.abc import Callable
from dataclasses import dataclass, field
from typing import Any

import vorn
from inputs import SWEEP_LENGTHS, Inputs

PEER_MODULES = (
    "rapidfuzz",
    "Levenshtein",
    "polyleven",
    "editdistance",
    "jellyfish",
    "textdistance",
    "datasketch",
    "simhash",
    "sklearn",
    "rank_bm25",
)


@dataclass
class Case:
    family: str
    input: str
    args: list[tuple[Any, ...]]
    vorn: Callable[..., Any]
    peers: dict[str, Callable[..., Any]]
    # Peers computing exactly the same quantity; their results must agree.
    same_value: tuple[str, ...] = ()
    # (peer, highest acceptable vorn ÷ peer time ratio)
    target: tuple[str, float] | None = None
    sweep_length: int | None = None
    timings: dict[str, float] = field(default_factory=dict)


class Peers:
    """The peer modules that import, and the ones that do not."""

    def __init__(self) -> None:
        self.modules: dict[str, Any] = {}
        self.missing: list[str] = []
        for name in PEER_MODULES:
            try:
                self.modules[name] = importlib.import_module(name)
            except ImportError:
                self.missing.append(name)

    def __contains__(self, name: str) -> bool:
        return name in self.modules

    def __getitem__(self, name: str) -> Any:
        return self.modules[name]


def ngram_set(text: str, n: int) -> set[str]:
    return {text[i : i + n] for i in range(len(text) - n + 1)}


def python_jaccard(a: set[str], b: set[str]) -> float:
    union = a | b
    return len(a & b) / len(union) if union else 1.0


def python_clean_text(text: str) -> str:
    return " ".join(unicodedata.normalize("NFC", text).lower().split())


def stopword_lists() -> dict[str, list[str]]:
    """Custom stopword lists of very different lengths: a word of text costs
    about the same against either."""
    words = [f"w{i}" for i in range(10**6)]
    return {"10 custom stopwords": words[:10], "10**6 custom stopwords": words}


def stopword_case(label: str, stopwords: list[str]) -> Case:
    text = " ".join(f"w{(i * 7919) % 20000}" + ("" if i % 3 else "x") for i in range(10_000))
    kept = set(stopwords)
    preprocessor = vorn.Preprocessor().with_remove_stopwords(True).with_stopwords(stopwords)

    def python_filter(text: str) -> str:
        return " ".join(w for w in python_clean_text(text).split() if w not in kept)

    return Case(
        "Preprocessor stopwords",
        f"{label}, text of 10 000 words",
        [(text,)],
        preprocessor.process,
        {"Python expression": python_filter},
        same_value=("Python expression",),
    )


TOKEN = re.compile(r"\w+")


def tokens(text: str) -> list[str]:
    return TOKEN.findall(text.lower())


def edit_peers(peers: Peers) -> dict[str, Callable[[str, str], int]]:
    found: dict[str, Callable[[str, str], int]] = {}
    if "rapidfuzz" in peers:
        from rapidfuzz.distance import Levenshtein

        found["rapidfuzz"] = Levenshtein.distance
    if "Levenshtein" in peers:
        found["Levenshtein"] = peers["Levenshtein"].distance
    if "polyleven" in peers:
        found["polyleven"] = peers["polyleven"].levenshtein
    if "editdistance" in peers:
        found["editdistance"] = peers["editdistance"].eval
    if "jellyfish" in peers:
        found["jellyfish"] = peers["jellyfish"].levenshtein_distance
    return found


def jaro_winkler_peers(peers: Peers) -> dict[str, Callable[[str, str], float]]:
    found: dict[str, Callable[[str, str], float]] = {}
    if "rapidfuzz" in peers:
        from rapidfuzz.distance import JaroWinkler

        found["rapidfuzz"] = JaroWinkler.similarity
    if "jellyfish" in peers:
        found["jellyfish"] = peers["jellyfish"].jaro_winkler_similarity
    return found


def minhash_peer(peers: Peers) -> dict[str, Callable[[str], Any]]:
    if "datasketch" not in peers:
        return {}
    MinHash = peers["datasketch"].MinHash

    def datasketch_signature(text: str) -> Any:
        sketch = MinHash(num_perm=128)
        sketch.update_batch([text[i : i + 3].encode() for i in range(len(text) - 2)])
        return sketch.hashvalues

    return {"datasketch": datasketch_signature}


def tfidf_peer(peers: Peers) -> dict[str, Callable[[str, str], float]]:
    if "sklearn" not in peers:
        return {}
    from sklearn.feature_extraction.text import TfidfVectorizer
    from sklearn.metrics.pairwise import cosine_similarity

    vectorizer = TfidfVectorizer()

    def sklearn_tfidf(a: str, b: str) -> float:
        matrix = vectorizer.fit_transform([a, b])
        return float(cosine_similarity(matrix[0:1], matrix[1:2])[0, 0])

    return {"scikit-learn": sklearn_tfidf}


def bm25_peer(peers: Peers) -> dict[str, Callable[[str, str], float]]:
    if "rank_bm25" not in peers:
        return {}
    BM25Okapi = peers["rank_bm25"].BM25Okapi

    def rank_bm25_similarity(query: str, document: str) -> float:
        query_tokens = tokens(query)
        scores = BM25Okapi([query_tokens, tokens(document)]).get_scores(query_tokens)
        best = max(scores)
        return float(scores[1] / best) if best > 0 else 0.0

    return {"rank_bm25": rank_bm25_similarity}


def build_cases(inputs: Inputs, peers: Peers, *, sweep: bool = True) -> list[Case]:
    words, sentences, documents = inputs.word_pairs, inputs.sentence_pairs, inputs.document_pairs
    edit = edit_peers(peers)
    jaro_winkler = jaro_winkler_peers(peers)
    cases = [
        Case(
            "call overhead",
            "('', '')",
            [("", "")] * 100,
            vorn.levenshtein_distance,
            {"operator.is_": operator.is_},
            target=("operator.is_", 1.5),
        ),
        Case(
            "Levenshtein distance",
            "words 5-20",
            words,
            vorn.levenshtein_distance,
            edit,
            same_value=tuple(edit),
            target=("rapidfuzz", 1.0),
        ),
        Case(
            "Levenshtein distance", "sentences ~100", sentences, vorn.levenshtein_distance, edit, same_value=tuple(edit)
        ),
        Case(
            "Levenshtein distance",
            "documents 4 kB",
            documents,
            vorn.levenshtein_distance,
            {k: v for k, v in edit.items() if k != "jellyfish"},
            same_value=tuple(edit),
            target=("rapidfuzz", 1.2),
        ),
        Case(
            "Levenshtein distance",
            "documents 1-4 kB",
            inputs.long_pairs,
            vorn.levenshtein_distance,
            {k: v for k, v in edit.items() if k != "jellyfish"},
            same_value=tuple(edit),
            target=("rapidfuzz", 0.9),
        ),
        Case(
            "Levenshtein distance",
            "mixed script",
            inputs.mixed_pairs,
            vorn.levenshtein_distance,
            edit,
            same_value=tuple(k for k in edit if k not in ("editdistance",)),
        ),
        Case(
            "Jaro-Winkler", "words 5-20", words, vorn.jaro_winkler_similarity, jaro_winkler, target=("rapidfuzz", 1.0)
        ),
        Case("Jaro-Winkler", "sentences ~100", sentences, vorn.jaro_winkler_similarity, jaro_winkler),
        Case("Jaro-Winkler", "mixed script", inputs.mixed_pairs, vorn.jaro_winkler_similarity, jaro_winkler),
        Case(
            "Levenshtein distance",
            "mixed script, 20 chars",
            inputs.mixed_short_pairs,
            vorn.levenshtein_distance,
            edit,
            same_value=tuple(k for k in edit if k not in ("editdistance",)),
        ),
        Case(
            "Jaro-Winkler",
            "mixed script, 20 chars",
            inputs.mixed_short_pairs,
            vorn.jaro_winkler_similarity,
            jaro_winkler,
        ),
    ]
    if "rapidfuzz" in peers:
        from rapidfuzz.distance import Hamming, Jaro, Levenshtein

        cases.append(
            Case(
                "Levenshtein similarity",
                "words 5-20",
                words,
                vorn.levenshtein_similarity,
                {"rapidfuzz": Levenshtein.normalized_similarity},
            )
        )
        # Without a common first character the Winkler boost is zero, so
        # the result is plain Jaro similarity.
        no_prefix = [(a, b) for a, b in words + sentences if a[:1] != b[:1]]
        cases.append(
            Case(
                "Jaro (no common prefix)",
                "words + sentences",
                no_prefix,
                vorn.jaro_winkler_similarity,
                {"rapidfuzz Jaro": Jaro.similarity},
                same_value=("rapidfuzz Jaro",),
            )
        )
        hamming = {"rapidfuzz": Hamming.distance}
    else:
        hamming = {}
    if "jellyfish" in peers:
        hamming["jellyfish"] = peers["jellyfish"].hamming_distance
    cases.append(
        Case(
            "Hamming distance",
            "equal-length words",
            inputs.equal_length_pairs,
            vorn.hamming_distance,
            hamming,
            same_value=tuple(hamming),
        )
    )

    for n, vorn_jaccard in ((2, vorn.jaccard_bigram_similarity), (3, vorn.jaccard_trigram_similarity)):
        jaccard: dict[str, Callable[[str, str], float]] = {
            "Python sets": lambda a, b, n=n: python_jaccard(ngram_set(a, n), ngram_set(b, n))
        }
        if "textdistance" in peers:
            jaccard["textdistance"] = peers["textdistance"].Jaccard(qval=n).similarity
        cases.append(
            Case(f"Jaccard {n}-grams", "sentences ~100", sentences, vorn_jaccard, jaccard, same_value=("Python sets",))
        )
    word_jaccard: dict[str, Callable[[str, str], float]] = {
        "Python sets": lambda a, b: python_jaccard(set(a.split()), set(b.split()))
    }
    if "textdistance" in peers:
        word_jaccard["textdistance"] = peers["textdistance"].Jaccard(qval=None).similarity
    cases.append(
        Case(
            "Jaccard words",
            "sentences ~100",
            sentences,
            vorn.jaccard_word_similarity,
            word_jaccard,
            same_value=("Python sets",),
        )
    )

    one_document = [(d,) for d in inputs.documents]
    ascii_sentences = [(s,) for s in inputs.sentences if s.isascii()]
    ascii_documents = [(d,) for d in inputs.documents if d.isascii()]
    cases.append(
        Case(
            "MinHash 3-shingles x128",
            "documents 4 kB",
            [(d, 3, 128) for (d,) in one_document],
            vorn.minhash_signature,
            {k: (lambda t, _s, _n, f=f: f(t)) for k, f in minhash_peer(peers).items()},
            target=("datasketch", 0.02),
        )
    )
    cases.append(
        Case(
            "MinHash 3-shingles x128",
            "excerpts 1 kB",
            [(d, 3, 128) for d in inputs.excerpts],
            vorn.minhash_signature,
            {k: (lambda t, _s, _n, f=f: f(t)) for k, f in minhash_peer(peers).items()},
            target=("datasketch", 0.01),
        )
    )
    if "simhash" in peers:
        simhash = {"simhash": peers["simhash"].Simhash}
    else:
        simhash = {}
    cases.append(
        Case(
            "SimHash fingerprint",
            "documents 4 kB",
            one_document,
            vorn.simhash_fingerprint_default,
            simhash,
            target=("simhash", 0.02),
        )
    )
    cases.append(
        Case(
            "TF-IDF cosine",
            "sentences ~100",
            sentences,
            vorn.tfidf_similarity,
            tfidf_peer(peers),
            target=("scikit-learn", 0.005),
        )
    )
    cases.append(
        Case(
            "TF-IDF cosine",
            "2 x 100 words",
            inputs.hundred_word_pairs,
            vorn.tfidf_similarity,
            tfidf_peer(peers),
            target=("scikit-learn", 0.004),
        )
    )
    cases.append(Case("TF-IDF cosine", "documents 4 kB", documents, vorn.tfidf_similarity, tfidf_peer(peers)))
    cases.append(
        Case("BM25", "sentences ~100", sentences, vorn.bm25_similarity, bm25_peer(peers), target=("rank_bm25", 0.01))
    )
    cases.append(
        Case(
            "BM25",
            "2 x 100 words",
            inputs.hundred_word_pairs,
            vorn.bm25_similarity,
            bm25_peer(peers),
            target=("rank_bm25", 0.007),
        )
    )
    cases.append(Case("BM25", "documents 4 kB", documents, vorn.bm25_similarity, bm25_peer(peers)))
    cases.append(
        Case(
            "clean_text",
            "ASCII sentences",
            ascii_sentences,
            vorn.clean_text,
            {"Python expression": python_clean_text},
            same_value=("Python expression",),
            target=("Python expression", 1.0),
        )
    )
    cases.append(
        Case(
            "clean_text",
            "ASCII documents 4 kB",
            ascii_documents,
            vorn.clean_text,
            {"Python expression": python_clean_text},
            same_value=("Python expression",),
        )
    )
    cases.append(
        Case(
            "clean_text",
            "mixed script",
            [(s,) for s in inputs.mixed_sentences],
            vorn.clean_text,
            {"Python expression": python_clean_text},
            same_value=("Python expression",),
        )
    )
    for label, stopwords in stopword_lists().items():
        cases.append(stopword_case(label, stopwords))

    if sweep and "rapidfuzz" in peers:
        from rapidfuzz.distance import JaroWinkler, Levenshtein

        for length in SWEEP_LENGTHS:
            pair = [inputs.sweep_pair(length)]
            cases.append(
                Case(
                    "sweep Levenshtein",
                    f"{length} chars",
                    pair,
                    vorn.levenshtein_distance,
                    {"rapidfuzz": Levenshtein.distance},
                    same_value=("rapidfuzz",),
                    sweep_length=length,
                )
            )
            cases.append(
                Case(
                    "sweep Jaro-Winkler",
                    f"{length} chars",
                    pair,
                    vorn.jaro_winkler_similarity,
                    {"rapidfuzz": JaroWinkler.similarity},
                    sweep_length=length,
                )
            )
    return cases
