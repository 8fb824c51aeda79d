"""Benchmark inputs cut from real text on the machine.

Words, sentences and documents come from a directory of plain-text files
(the Debian license texts by default), falling back to the standard
library's docstrings when that directory is missing. Mixed-script text
ships with the benchmark in data/mixed_script.txt.
"""

from __future__ import annotations

import random
import re
import sys
from dataclasses import dataclass
from pathlib import Path

DEFAULT_TEXT_DIR = Path("/usr/share/common-licenses")
MIXED_SCRIPT_FILE = Path(__file__).with_name("data") / "mixed_script.txt"
WORD = re.compile(r"[^\W\d_]{5,20}")
SENTENCE_END = re.compile(r"(?<=[.;:!?])\s+")
SWEEP_LENGTHS = (8, 16, 32, 64, 128, 256, 512, 1000, 2000, 5000, 10000)


@dataclass(frozen=True)
class Inputs:
    source: str
    word_pairs: list[tuple[str, str]]
    equal_length_pairs: list[tuple[str, str]]
    sentence_pairs: list[tuple[str, str]]
    document_pairs: list[tuple[str, str]]
    mixed_pairs: list[tuple[str, str]]
    # The mixed-script pairs cut to their first 20 characters: names and
    # short fields beyond ASCII.
    mixed_short_pairs: list[tuple[str, str]]
    sentences: list[str]
    documents: list[str]
    mixed_sentences: list[str]
    corpus: str
    # 1 kB excerpts; pairs of 100 words drawn from the corpus vocabulary;
    # pairs of passages of 1, 2, 3 and 4 kB.
    excerpts: list[str]
    hundred_word_pairs: list[tuple[str, str]]
    long_pairs: list[tuple[str, str]]

    def sweep_pair(self, length: int) -> tuple[str, str]:
        """Two different passages of the corpus, each `length` characters."""
        half = len(self.corpus) // 2
        return self.corpus[:length], self.corpus[half : half + length]


def read_texts(directory: Path) -> tuple[str, list[str]]:
    """Texts of the regular files in `directory`, or standard-library docstrings."""
    texts = []
    if directory.is_dir():
        for path in sorted(directory.iterdir()):
            if path.is_file() and not path.is_symlink():
                texts.append(path.read_text(encoding="utf-8", errors="replace"))
    if texts:
        return str(directory), texts
    docstrings = [m.__doc__ for m in list(sys.modules.values()) if isinstance(getattr(m, "__doc__", None), str)]
    return "standard-library docstrings", [d for d in docstrings if len(d) > 200]


def misspell(word: str, rng: random.Random) -> str:
    """One typo of the usual kinds: drop, double, swap or replace a letter."""
    i = rng.randrange(len(word) - 1)
    match rng.randrange(4):
        case 0:
            return word[:i] + word[i + 1 :]
        case 1:
            return word[: i + 1] + word[i:]
        case 2:
            return word[:i] + word[i + 1] + word[i] + word[i + 2 :]
        case _:
            return word[:i] + rng.choice("aeiourstln") + word[i + 1 :]


def chunks(text: str, size: int) -> list[str]:
    return [text[i : i + size] for i in range(0, len(text) - size + 1, size)]


def load(directory: Path = DEFAULT_TEXT_DIR, *, count: int = 200, seed: int = 2026) -> Inputs:
    rng = random.Random(seed)
    source, texts = read_texts(directory)
    corpus = "\n".join(texts)
    while len(corpus) < 2 * SWEEP_LENGTHS[-1] + 1:
        corpus += "\n" + corpus

    words = sorted(set(WORD.findall(corpus)))
    # Half near-matches (a word and its typo), half unrelated words: the mix
    # a fuzzy lookup sees.
    picked = rng.sample(words, min(count, len(words)))
    word_pairs = [(w, misspell(w, rng)) if k % 2 == 0 else (w, rng.choice(words)) for k, w in enumerate(picked)]
    by_length: dict[int, list[str]] = {}
    for w in words:
        by_length.setdefault(len(w), []).append(w)
    equal_length_pairs = [(a, rng.choice(by_length[len(a)])) for a, _ in word_pairs][:count]

    sentences = [" ".join(s.split()) for s in SENTENCE_END.split(corpus)]
    sentences = [s for s in sentences if 80 <= len(s) <= 140]
    rng.shuffle(sentences)
    sentences = sentences[:count]
    sentence_pairs = list(zip(sentences[0::2], sentences[1::2]))

    documents = [d for t in texts for d in chunks(t, 4000)][: max(4, count // 10)]
    if len(documents) < 2:
        documents = chunks(corpus, 4000)[:4]
    document_pairs = list(zip(documents[0::2], documents[1::2]))

    excerpts = [d for t in texts for d in chunks(t, 1000)][: max(4, count // 10)]
    vocabulary = sorted(set(re.findall(r"[^\W\d_]+", corpus)))
    hundred_word_pairs = [
        (" ".join(rng.choices(vocabulary, k=100)), " ".join(rng.choices(vocabulary, k=100)))
        for _ in range(max(2, count // 10))
    ]
    long_pairs = [
        pair
        for size in (1000, 2000, 3000, 4000)
        for pair in zip(chunks(corpus, size)[0:6:2], chunks(corpus, size)[1:6:2])
    ]

    mixed_sentences = MIXED_SCRIPT_FILE.read_text(encoding="utf-8").splitlines()
    mixed_pairs = [(a, b) for a in mixed_sentences for b in mixed_sentences if a < b][:count]

    return Inputs(
        source=source,
        word_pairs=word_pairs,
        equal_length_pairs=equal_length_pairs,
        sentence_pairs=sentence_pairs,
        document_pairs=document_pairs,
        mixed_pairs=mixed_pairs,
        mixed_short_pairs=[(a[:20], b[:20]) for a, b in mixed_pairs],
        sentences=sentences,
        documents=documents,
        mixed_sentences=mixed_sentences,
        corpus=corpus,
        excerpts=excerpts,
        hundred_word_pairs=hundred_word_pairs,
        long_pairs=long_pairs,
    )
