"""Near-duplicate detection and fuzzy matching on a directory of text files.

    python examples/demo.py [DIRECTORY]

By default it reads the license texts every Debian system ships in
/usr/share/common-licenses and

1. groups the texts into families of near-duplicates with MinHash
   signatures, checked against SimHash fingerprints;
2. ranks the texts for a query with BM25 and TF-IDF;
3. corrects misspelt words against the vocabulary of the same texts with a
   two-tier VornFlow, and shows what each comparison intent picks.
"""

from __future__ import annotations

import argparse
import re
import time
from collections import Counter
from dataclasses import dataclass
from itertools import combinations
from pathlib import Path

import vorn

DEFAULT_DIRECTORY = Path("/usr/share/common-licenses")
SHINGLE_SIZE = 5
NUM_HASHES = 128
MISSPELLINGS = [
    "Licence", "warrenty", "COPYRIGTH", "distribuiton", "Softwear", "modificaton",
    "Genral", "merchantabilty", "liabilty", "sublicence", "perpetural", "infringment",
]


@dataclass
class Document:
    name: str
    text: str  # cleaned: NFC, lowercase, single spaces
    signature: list[int]
    fingerprint: int


class Counters:
    comparisons = 0


def load(directory: Path) -> tuple[list[Document], dict[str, str]]:
    """The distinct texts of the directory, and the names that are links to
    another file of it (aliases such as GPL -> GPL-3)."""
    documents, aliases = [], {}
    for path in sorted(directory.iterdir()):
        if path.is_symlink() and path.resolve().parent == directory.resolve():
            aliases[path.name] = path.resolve().name
        elif path.is_file():
            text = vorn.clean_text(path.read_text(encoding="utf-8", errors="replace"))
            documents.append(Document(path.name, text, vorn.minhash_signature(text, SHINGLE_SIZE, NUM_HASHES),
                                      vorn.simhash_fingerprint_default(text)))
    return documents, aliases


def signature_similarity(a: list[int], b: list[int]) -> float:
    """Share of equal signature positions: the MinHash estimate of Jaccard."""
    return sum(x == y for x, y in zip(a, b)) / len(a)


def fingerprint_similarity(a: int, b: int) -> float:
    """Share of equal bits of two 64-bit SimHash fingerprints."""
    return 1.0 - (a ^ b).bit_count() / 64


def families(documents: list[Document], threshold: float) -> list[list[tuple[Document, Document, float]]]:
    """Connected components of the pairs whose MinHash estimate reaches the
    threshold, each as its list of such pairs."""
    parent = {d.name: d.name for d in documents}

    def root(name: str) -> str:
        while parent[name] != name:
            parent[name] = parent[parent[name]]
            name = parent[name]
        return name

    close_pairs = []
    for a, b in combinations(documents, 2):
        Counters.comparisons += 1
        estimate = signature_similarity(a.signature, b.signature)
        if estimate >= threshold:
            close_pairs.append((a, b, estimate))
            parent[root(a.name)] = root(b.name)
    grouped: dict[str, list[tuple[Document, Document, float]]] = {}
    for pair in close_pairs:
        grouped.setdefault(root(pair[0].name), []).append(pair)
    return sorted(grouped.values(), key=lambda pairs: -max(p[2] for p in pairs))


def report_families(documents: list[Document], aliases: dict[str, str], threshold: float) -> None:
    print(f"1. Near-duplicate families (MinHash, {SHINGLE_SIZE}-character shingles, {NUM_HASHES} hashes, "
          f"estimate >= {threshold})")
    found = families(documents, threshold)
    in_family = set()
    for number, pairs in enumerate(found, 1):
        names = sorted({d.name for pair in pairs for d in pair[:2]})
        in_family.update(names)
        print(f"   family {number}: {', '.join(names)}")
        for a, b, estimate in sorted(pairs, key=lambda p: -p[2]):
            simhash = fingerprint_similarity(a.fingerprint, b.fingerprint)
            print(f"      {a.name:>10} ~ {b.name:<10} MinHash {estimate:.3f}  SimHash {simhash:.3f}")
    alone = [d.name for d in documents if d.name not in in_family]
    if alone:
        print(f"   no near duplicate: {', '.join(alone)}")
    if aliases:
        print("   exact duplicates (links): " + ", ".join(f"{k} -> {v}" for k, v in sorted(aliases.items())))


def report_ranking(documents: list[Document], query: str) -> None:
    print(f'\n2. Ranking for the query "{query}" (top 5)')
    cleaned = vorn.clean_text(query)
    bm25 = {d.name: vorn.bm25_similarity(cleaned, d.text) for d in documents}
    tfidf = {d.name: vorn.tfidf_similarity(cleaned, d.text) for d in documents}
    Counters.comparisons += 2 * len(documents)
    by_bm25 = sorted(bm25, key=lambda name: -bm25[name])[:5]
    by_tfidf = sorted(tfidf, key=lambda name: -tfidf[name])[:5]
    print(f"   {'BM25':<24}{'TF-IDF cosine':<24}")
    for left, right in zip(by_bm25, by_tfidf):
        print(f"   {left:<12}{bm25[left]:>8.4f}    {right:<12}{tfidf[right]:>8.4f}")


def vocabulary(documents: list[Document]) -> list[str]:
    counts = Counter(word for d in documents for word in re.findall(r"[^\W\d_]{4,}", d.text))
    return sorted(counts)


ACCEPT_AT_TIER_1 = 0.97


def accepted(result: dict) -> bool:
    """A flow result reports a score and the tier that produced it: a tier-2
    result passed tier 2's test, a tier-1 result is a match only above the
    accept bound (otherwise tier 1 rejected it, or neither tier decided)."""
    return result["tier"] == 2 or (result["tier"] == 1 and result["score"] > ACCEPT_AT_TIER_1)


def best_match(flow: vorn.VornFlow, word: str, words: list[str]) -> tuple[str, dict | None, Counter]:
    """The best accepted vocabulary word among words of similar length:
    tier-1 accepts first, then by score; and how many candidates each tier
    settled."""
    settled: Counter = Counter()
    best_word, best, best_key = "", None, (False, -1.0)
    for candidate in words:
        if abs(len(candidate) - len(word)) > 2:
            continue
        result = flow.compare(word, candidate)
        Counters.comparisons += 1
        settled[result["tier"]] += 1
        key = (result["tier"] == 1, result["score"])
        if accepted(result) and key > best_key:
            best_word, best, best_key = candidate, result, key
    return best_word, best, settled


def report_fuzzy_matching(documents: list[Document]) -> None:
    words = vocabulary(documents)
    flow = (vorn.VornFlow()
            .preprocess(True)
            .tier_1("jaro_winkler", "gt", ACCEPT_AT_TIER_1, "lt", 0.80)
            .tier_2("levenshtein", "gt", 0.70, 0.0))
    print(f"\n3. Fuzzy matching against the {len(words)} words of these texts")
    print("   VornFlow: tier 1 Jaro-Winkler (accept > 0.97, reject < 0.80), tier 2 Levenshtein (> 0.70)")
    print(f"   {'input':<16}{'best match':<16}{'score':>7}  {'tier':<5}{'algorithm':<14}"
          f"{'results at tier 1 / 2':>22}")
    for word in MISSPELLINGS:
        match, result, settled = best_match(flow, word, words)
        if result is None:
            print(f"   {word:<16}{'(no match)':<42}{settled[1]:>14} / {settled[2]}")
            continue
        print(f"   {word:<16}{match:<16}{result['score']:>7.3f}  {result['tier']:<5}{result['algorithm']:<14}"
              f"{settled[1]:>14} / {settled[2]}")

    print("\n   compare_with_intent: one pair, each intent")
    pair = ("Jonathon Smyth", "Jonathan Smith")
    for intent in ("names", "typos", "codes", "documents", "dedup", "auto"):
        result = flow.compare_with_intent(intent, *pair)
        Counters.comparisons += 1
        print(f"   {intent:<10} {result['algorithm']:<14}{result['score']:.3f}")
    print(f"   (pair: {pair[0]!r} / {pair[1]!r})")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("directory", nargs="?", type=Path, default=DEFAULT_DIRECTORY,
                        help=f"directory of text files (default {DEFAULT_DIRECTORY})")
    parser.add_argument("--threshold", type=float, default=0.35, help="MinHash estimate for near duplicates")
    parser.add_argument("--query", default="warranty disclaimer liability damages",
                        help="query for the ranking")
    options = parser.parse_args(argv)
    if not options.directory.is_dir():
        parser.error(f"{options.directory} is not a directory")

    started = time.perf_counter()
    documents, aliases = load(options.directory)
    if len(documents) < 2:
        parser.error(f"{options.directory} holds fewer than two text files")
    size = sum(len(d.text) for d in documents)
    print(f"vorn demo on {len(documents)} texts in {options.directory} ({size / 1000:.0f} k characters)\n")
    report_families(documents, aliases, options.threshold)
    report_ranking(documents, options.query)
    report_fuzzy_matching(documents)
    elapsed = time.perf_counter() - started
    print(f"\n{Counters.comparisons} comparisons and {len(documents)} signatures in {elapsed:.2f} s")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
