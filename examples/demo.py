"""Near-duplicate detection, ranking and fuzzy word matching over a directory of texts.

    python examples/demo.py [DIRECTORY] [--query PHRASE] [--query-doc NAME] [--word WORD ...]

By default the directory is the license collection that every Debian system ships.
The report has three parts:

1. Near-duplicates: MinHash signatures estimate the similarity of every pair of
   documents, pairs above a threshold are linked and the connected components are
   reported as families; SimHash fingerprints give a second opinion; TF-IDF and BM25
   rank the documents against a phrase and against the text of one document.
2. Fuzzy matching: misspelt words are looked up in the vocabulary of the same texts
   with a two-tier VornFlow router, and with `compare_with_intent` for a few intents.
3. A summary with the wall time and the number of comparisons made.
"""

from __future__ import annotations  # vorn.ComparisonResult exists only in the type stubs

import argparse
import itertools
import re
import sys
import time
from collections import Counter, defaultdict
from collections.abc import Iterable, Sequence
from dataclasses import dataclass, field
from pathlib import Path

import vorn

DEFAULT_DIRECTORY = Path("/usr/share/common-licenses")
DEFAULT_QUERY = "warranty disclaimer liability"
DEFAULT_WORDS = (
    "Licence", "warrenty", "COPYRIGTH", "distribuiton", "Softwear", "modificaton",
    "Lesser Genral", "merchantabilty", "infringment", "Rédistribution", "xylophone",
)  # fmt: skip

NUM_HASHES = 128
SIMHASH_SHINGLE = 4
TOP = 5

# Router for the word lookup: Jaro-Winkler settles clear accepts and rejects at
# tier 1; whatever lies between goes to a normalised Levenshtein check at tier 2.
ACCEPT, REJECT, EDIT_ACCEPT = 0.96, 0.85, 0.75
WORD_FLOW = (
    vorn.VornFlow()
    .preprocess(True)
    .tier_1("jaro_winkler", "gt", ACCEPT, "lt", REJECT)
    .tier_2("levenshtein", "gt", EDIT_ACCEPT, 0.0)
)
INTENTS = ("typos", "names", "dedup", "auto")
LENGTH_WINDOW = 2  # candidates may be this many characters shorter or longer

NON_WORD = re.compile(r"[\W_]+")
LETTERS = re.compile(r"[^\W\d_]{3,}")
CONTENT_WORDS = vorn.Preprocessor().with_remove_stopwords(True)


@dataclass
class Tally:
    """Counts the comparisons made, by kind."""

    counts: Counter[str] = field(default_factory=Counter)

    def add(self, kind: str, n: int = 1) -> None:
        self.counts[kind] += n

    @property
    def total(self) -> int:
        return sum(self.counts.values())


@dataclass
class Corpus:
    docs: dict[str, str]  # name -> raw text, one entry per distinct content
    duplicates: list[tuple[str, str, str]]  # (name, same as, why)
    skipped: list[str]


# ---------------------------------------------------------------- loading


def load_corpus(directory: Path) -> Corpus:
    """Reads every text file of the directory. Symlinks to a file of the same
    directory and files with identical content are recorded as duplicates."""
    corpus = Corpus({}, [], [])
    first_with: dict[bytes, str] = {}
    for path in sorted(directory.iterdir()):
        if path.is_symlink() and path.resolve().parent == directory and path.resolve().is_file():
            corpus.duplicates.append((path.name, path.resolve().name, "symlink"))
            continue
        if not path.is_file():
            corpus.skipped.append(path.name)
            continue
        data = path.read_bytes()
        if b"\0" in data:  # binary
            corpus.skipped.append(path.name)
        elif data in first_with:
            corpus.duplicates.append((path.name, first_with[data], "same content"))
        else:
            first_with[data] = path.name
            corpus.docs[path.name] = data.decode("utf-8", errors="replace")
    return corpus


def normalise(text: str) -> str:
    """Punctuation to spaces, then NFC, lowercase, collapsed whitespace and no stopwords."""
    return CONTENT_WORDS.process(NON_WORD.sub(" ", text))


# ---------------------------------------------------------------- near-duplicates


def signature_similarity(a: Sequence[int], b: Sequence[int]) -> float:
    """Fraction of equal positions: what minhash_similarity computes from two texts."""
    return sum(x == y for x, y in zip(a, b)) / len(a)


def minhash_pairs(texts: dict[str, str], shingle: int, tally: Tally) -> dict[tuple[str, str], float]:
    """Estimated Jaccard similarity of every pair, from one signature per text."""
    sigs = {name: vorn.minhash_signature(text, shingle, NUM_HASHES) for name, text in texts.items()}
    pairs = {(a, b): signature_similarity(sigs[a], sigs[b]) for a, b in itertools.combinations(sigs, 2)}
    tally.add("minhash", len(pairs))
    return pairs


def connected_components(names: Iterable[str], edges: Iterable[tuple[str, str]]) -> list[list[str]]:
    parent = {name: name for name in names}

    def root(x: str) -> str:
        while parent[x] != x:
            parent[x] = parent[parent[x]]
            x = parent[x]
        return x

    for a, b in edges:
        parent[root(a)] = root(b)
    groups: defaultdict[str, list[str]] = defaultdict(list)
    for name in parent:
        groups[root(name)].append(name)
    return sorted((sorted(g) for g in groups.values()), key=lambda g: (-len(g), g))


def simhash_distances(texts: dict[str, str], tally: Tally) -> dict[tuple[str, str], int]:
    """Hamming distance of the 64-bit SimHash fingerprints of every pair."""
    prints = {name: vorn.simhash_fingerprint(text, SIMHASH_SHINGLE) for name, text in texts.items()}
    tally.add("simhash", len(prints) * (len(prints) - 1) // 2)
    return {(a, b): (prints[a] ^ prints[b]).bit_count() for a, b in itertools.combinations(prints, 2)}


def report_duplicates(corpus: Corpus) -> None:
    for name, original, why in corpus.duplicates:
        print(f"  exact duplicate: {name} -> {original} ({why})")
    if corpus.skipped:
        print(f"  skipped (not a text file): {', '.join(corpus.skipped)}")


def report_families(
    families: list[list[str]],
    minhash: dict[tuple[str, str], float],
    texts: dict[str, str],
    threshold: float,
    tally: Tally,
) -> None:
    for number, members in enumerate((f for f in families if len(f) > 1), start=1):
        print(f"  family {number}: {', '.join(members)}")
        a, b = max(itertools.combinations(members, 2), key=lambda p: minhash[p])
        simhash = vorn.simhash_similarity(texts[a], texts[b], SIMHASH_SHINGLE)
        tally.add("simhash")
        linked = sum(minhash[p] >= threshold for p in itertools.combinations(members, 2))
        print(f"    closest {a} ~ {b}: minhash {minhash[a, b]:.3f}, simhash {simhash:.3f};"
              f" linked pairs: {linked}")  # fmt: skip
    singles = [f[0] for f in families if len(f) == 1]
    print(f"  no near-duplicate: {', '.join(singles) if singles else '-'}")


def report_simhash(distances: dict[tuple[str, str], int], families: list[list[str]]) -> None:
    family_of = {name: i for i, members in enumerate(families) for name in members}
    print(f"  SimHash second opinion (shingle {SIMHASH_SHINGLE}), closest fingerprints:")
    for (a, b), d in sorted(distances.items(), key=lambda item: (item[1], item[0]))[:TOP]:
        verdict = "same family" if family_of[a] == family_of[b] else "different families"
        print(f"    {d:2} bits  {a} ~ {b}  ({verdict})")


def top(scores: dict[str, float]) -> list[str]:
    """The best documents with a positive score, by score, then by name."""
    ranked = sorted((name for name, s in scores.items() if s > 0.0), key=lambda n: (-scores[n], n))
    return [f"{name:<16}{scores[name]:.4f}" for name in ranked[:TOP]]


def report_ranking(label: str, query: str, texts: dict[str, str], tally: Tally) -> None:
    """Ranks by TF-IDF cosine and by BM25, the query being the first text of each pair."""
    tfidf = top({name: vorn.tfidf_similarity(query, text) for name, text in texts.items()})
    bm25 = top({name: vorn.bm25_similarity(query, text) for name, text in texts.items()})
    tally.add("tfidf", len(texts))
    tally.add("bm25", len(texts))
    print(f"  ranking by {label}")
    if not tfidf and not bm25:
        print("    no document shares a term with it")
        return
    print(f"       {'TF-IDF':<24}BM25")
    for i, (a, b) in enumerate(itertools.zip_longest(tfidf, bm25, fillvalue=""), start=1):
        print(f"    {i}. {a:<24}{b}".rstrip())


# ---------------------------------------------------------------- fuzzy matching


def build_vocabulary(texts: Iterable[str]) -> dict[int, list[str]]:
    """Distinct lower-case words of three or more letters, indexed by length."""
    words = {w for text in texts for w in LETTERS.findall(vorn.clean_text(text))}
    by_length: defaultdict[int, list[str]] = defaultdict(list)
    for word in sorted(words):
        by_length[len(word)].append(word)
    return by_length


def candidates(word: str, vocabulary: dict[int, list[str]]) -> list[str]:
    n = len(vorn.clean_text(word))
    return [w for k in range(n - LENGTH_WINDOW, n + LENGTH_WINDOW + 1) for w in vocabulary.get(k, ())]


def decision(result: vorn.ComparisonResult) -> str:
    """Which tier settled a pair, and how."""
    if result["fallback_called"]:
        return "fallback"
    if result["tier"] == 2:  # tier 2 decides only when its threshold holds
        return "t2 accept"
    if result["score"] > ACCEPT:
        return "t1 accept"
    return "t1 reject" if result["score"] < REJECT else "t2 reject"


@dataclass
class Lookup:
    best: str | None
    result: vorn.ComparisonResult | None
    decisions: Counter[str]


def lookup(word: str, vocabulary: dict[int, list[str]], tally: Tally) -> Lookup:
    """Best accepted candidate: tier-1 accepts before tier-2 accepts, then by score."""
    decisions: Counter[str] = Counter()
    best: tuple[tuple[int, float], str, vorn.ComparisonResult] | None = None
    for candidate in candidates(word, vocabulary):
        result = WORD_FLOW.compare(word, candidate)
        verdict = decision(result)
        decisions[verdict] += 1
        if verdict.endswith("accept"):
            key = (verdict == "t1 accept", result["score"])
            if best is None or key > best[0]:
                best = (key, candidate, result)
    tally.add("flow", decisions.total())
    return Lookup(best[1], best[2], decisions) if best else Lookup(None, None, decisions)


def lookup_phrase(phrase: str, vocabulary: dict[int, list[str]], tally: Tally) -> list[Lookup]:
    return [lookup(word, vocabulary, tally) for word in phrase.split()]


def intent_pick(intent: str, word: str, vocabulary: dict[int, list[str]], tally: Tally) -> str:
    """The candidate that a single intent-chosen algorithm scores highest."""
    scored = []
    for candidate in candidates(word, vocabulary):
        result = WORD_FLOW.compare_with_intent(intent, word, candidate)
        scored.append((result["score"], candidate, result["algorithm"]))
    tally.add("intent", len(scored))
    if not scored:
        return "-"
    score, candidate, algorithm = max(scored, key=lambda s: s[0])  # first of equals
    return f"{candidate} ({algorithm})" if intent == "auto" else candidate


def report_lookups(words: Sequence[str], vocabulary: dict[int, list[str]], tally: Tally) -> None:
    print(f"  {'misspelling':<16}{'best match':<17}{'score':>6}  {'decided by':<22}"
          f"{'t1 acc/rej':>11}{'t2 acc/rej':>11}")  # fmt: skip
    example = None
    for phrase in words:
        found = lookup_phrase(phrase, vocabulary, tally)
        counts = sum((f.decisions for f in found), Counter())
        best = " ".join(f.best or "?" for f in found)
        if all(f.result for f in found):
            result = found[-1].result
            assert result is not None
            example = example or (phrase, best, result)
            how = f"tier {result['tier']} {result['algorithm']}"
            score = f"{result['score']:.3f}"
        else:
            best, score, how = "(no match)", "", "-"
        print(f"  {phrase:<16}{best:<17}{score:>6}  {how:<22}"
              f"{counts['t1 accept']:>5}/{counts['t1 reject']:<5}"
              f"{counts['t2 accept']:>5}/{counts['t2 reject']}")  # fmt: skip
    if example:
        print(f"  result dict for {example[0]!r} ~ {example[1]!r}: {dict(example[2])}")


def report_intents(words: Sequence[str], vocabulary: dict[int, list[str]], tally: Tally) -> None:
    print(f"  {'misspelling':<16}" + "".join(f"{i:<16}" for i in INTENTS).rstrip())
    for phrase in words:
        picks = [" ".join(intent_pick(i, w, vocabulary, tally) for w in phrase.split()) for i in INTENTS]
        print(f"  {phrase:<16}" + "".join(f"{p:<16}" for p in picks).rstrip())
    try:
        WORD_FLOW.compare_with_intent("codes", "licence", "licensed")
    except ValueError as error:
        print(f"  'codes' needs equal lengths: 'licence' ~ 'licensed' -> ValueError: {error}")
    print("  'auto' picks by length: hamming for equal lengths up to 20 bytes, else jaro_winkler,"
          " so its scores mix algorithms across candidates")


# ---------------------------------------------------------------- main


def parse_args(argv: Sequence[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("directory", nargs="?", type=Path, default=DEFAULT_DIRECTORY,
                        help="directory of text files (default: %(default)s)")  # fmt: skip
    parser.add_argument("--query", default=DEFAULT_QUERY, help="phrase to rank the documents by")
    parser.add_argument("--query-doc", help="rank by the text of this document (default: the "
                        "first member of the largest family)")  # fmt: skip
    parser.add_argument("--word", action="append", dest="words",
                        help="misspelt word or phrase to look up (repeatable)")  # fmt: skip
    parser.add_argument("--shingle", type=int, choices=(3, 4, 5), default=5,
                        help="MinHash shingle size in characters (default: %(default)s)")  # fmt: skip
    parser.add_argument("--threshold", type=float, default=0.4,
                        help="MinHash similarity that links two documents (default: %(default)s)")  # fmt: skip
    args = parser.parse_args(argv)
    if not args.directory.is_dir():
        parser.error(f"not a directory: {args.directory}")
    args.directory = args.directory.resolve()
    return args


def main(argv: Sequence[str] | None = None) -> int:
    started = time.perf_counter()
    args = parse_args(argv)
    tally = Tally()
    corpus = load_corpus(args.directory)
    if not corpus.docs:
        print(f"error: no text files in {args.directory}", file=sys.stderr)
        return 1
    texts = {name: normalise(text) for name, text in corpus.docs.items()}

    print(f"vorn demo: {len(texts)} distinct documents in {args.directory}")
    print(f"\n1. Near-duplicates (MinHash: {args.shingle}-character shingles, {NUM_HASHES} hashes,"
          f" link at >= {args.threshold})")  # fmt: skip
    report_duplicates(corpus)
    minhash = minhash_pairs(texts, args.shingle, tally)
    families = connected_components(texts, (p for p, s in minhash.items() if s >= args.threshold))
    report_families(families, minhash, texts, args.threshold, tally)
    report_simhash(simhash_distances(texts, tally), families)
    report_ranking(f"{args.query!r}", normalise(args.query), texts, tally)
    query_doc = args.query_doc or families[0][0]
    if query_doc in texts:
        others = {n: t for n, t in texts.items() if n != query_doc}
        report_ranking(f"text of {query_doc}", texts[query_doc], others, tally)
    else:
        print(f"  no document named {query_doc!r}")

    vocabulary = build_vocabulary(corpus.docs.values())
    words = args.words or DEFAULT_WORDS
    print(f"\n2. Fuzzy matching against {sum(map(len, vocabulary.values()))} distinct words"
          f" (candidates within {LENGTH_WINDOW} characters of the length)")  # fmt: skip
    print(f"  VornFlow: preprocess, tier 1 jaro_winkler accept > {ACCEPT}, reject < {REJECT};"
          f" tier 2 levenshtein accept > {EDIT_ACCEPT}")  # fmt: skip
    report_lookups(words, vocabulary, tally)
    print("  compare_with_intent picks (one algorithm, no thresholds):")
    report_intents(words, vocabulary, tally)

    elapsed = time.perf_counter() - started
    kinds = ", ".join(f"{kind} {n}" for kind, n in sorted(tally.counts.items()))
    print(f"\n3. Summary: {tally.total} comparisons in {elapsed:.2f} s wall time ({kinds})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
