"""End-to-end runs of examples/demo.py on the system licenses and on synthetic files."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

DEMO = Path(__file__).resolve().parents[1] / "examples" / "demo.py"
LICENSES = Path("/usr/share/common-licenses")

ALPHA = (
    "The quick brown fox jumps over the lazy dog near the riverbank every morning.\n"
    "Farmers watch the animals while measuring similarity between their harvests,\n"
    "counting apples, pears and plums before carrying baskets to the village market.\n"
)
BETA = ALPHA.replace("every morning", "each morning").replace("plums", "cherries")
GAMMA = (
    "Compilers translate source programs into machine instructions; optimisers\n"
    "rearrange loops, registers and memory accesses to make binaries faster.\n"
)


def run(*args: object) -> subprocess.CompletedProcess[str]:
    command = [sys.executable, str(DEMO), *map(str, args)]
    return subprocess.run(command, capture_output=True, text=True, timeout=60)


def report(*args: object) -> str:
    done = run(*args)
    assert done.returncode == 0, done.stderr
    return done.stdout


def search(pattern: str, text: str) -> re.Match[str]:
    m = re.search(pattern, text, re.M)
    assert m, f"no line matches {pattern!r}"
    return m


def families(text: str) -> list[set[str]]:
    return [set(m.split(", ")) for m in re.findall(r"^  family \d+: (.+)$", text, re.M)]


def loners(text: str) -> set[str]:
    return set(search(r"^  no near-duplicate: (.+)$", text).group(1).split(", "))


def lookup_row(text: str, word: str) -> list[str]:
    """The word's row of the VornFlow table: the first row starting with it."""
    return search(rf"^  {re.escape(word)}  +(.+)$", text).group(1).split()


def intent_row(text: str, word: str) -> list[str]:
    """The word's row of the compare_with_intent table, which follows the VornFlow table."""
    return lookup_row(text.split("compare_with_intent picks")[1], word)


@pytest.fixture(scope="module")
def corpus(tmp_path_factory: pytest.TempPathFactory) -> Path:
    tmp_path = tmp_path_factory.mktemp("corpus")
    (tmp_path / "alpha.txt").write_text(ALPHA)
    (tmp_path / "beta.txt").write_text(BETA)
    (tmp_path / "gamma.txt").write_text(GAMMA)
    (tmp_path / "gamma-copy.txt").write_text(GAMMA)
    (tmp_path / "alias").symlink_to("alpha.txt")
    (tmp_path / "blob.bin").write_bytes(b"a\0b")
    (tmp_path / "sub").mkdir()
    return tmp_path


@pytest.mark.skipif(not LICENSES.is_dir(), reason="no system license collection")
def test_system_licenses() -> None:
    text = report()
    found = families(text)
    for pair in [{"GPL-2", "GPL-3"}, {"LGPL-2", "LGPL-2.1"}, {"GFDL-1.2", "GFDL-1.3"}, {"MPL-1.1", "MPL-2.0"}]:
        assert any(pair <= f for f in found), pair
    assert {"Apache-2.0", "BSD"} <= loners(text)
    assert "exact duplicate: GPL -> GPL-3 (symlink)" in text
    # aliases are not analysed again as documents
    assert all("GPL" not in f and "GFDL" not in f for f in found)
    assert lookup_row(text, "Licence")[:1] == ["license"]
    # typos, names, dedup, auto; auto's first of the equal-scoring "licensed", "licensee", "licenses"
    assert intent_row(text, "Licence") == ["license", "license", "license", "licensed", "(jaro_winkler)"]
    assert lookup_row(text, "Lesser Genral")[:2] == ["lesser", "general"]
    assert lookup_row(text, "xylophone")[:2] == ["(no", "match)"]
    assert 40 <= len(text.splitlines()) <= 75


@pytest.mark.parametrize("shingle", [3, 4, 5])
def test_synthetic_near_duplicates(corpus: Path, shingle: int) -> None:
    text = report(corpus, "--shingle", shingle)
    assert families(text) == [{"alpha.txt", "beta.txt"}]
    assert loners(text) == {"gamma-copy.txt"}  # the first name of identical files is kept
    assert "exact duplicate: alias -> alpha.txt (symlink)" in text
    assert "exact duplicate: gamma.txt -> gamma-copy.txt (same content)" in text
    assert "skipped (not a text file): blob.bin, sub" in text


def test_synthetic_ranking(corpus: Path) -> None:
    text = report(corpus, "--query", "Harvest APPLES", "--query-doc", "gamma-copy.txt")
    phrase = text.split("ranking by 'Harvest APPLES'")[1]
    search(r"^    1\. alpha\.txt +[\d.]+ +alpha\.txt", phrase)  # equal scores come in name order
    by_doc = text.split("ranking by text of gamma-copy.txt")[1].splitlines()[1]
    assert by_doc.strip() == "no document shares a term with it"


LOOKUPS = {
    # word: best match, score, deciding tier and algorithm, t1 accepts/rejects, t2 accepts/rejects
    "Harvets": "harvests 0.875 tier 2 levenshtein 0/35 1/0",
    "similarty": "similarity 0.980 tier 1 jaro_winkler 1/21 0/0",
    "Farmrs": "farmers 0.971 tier 1 jaro_winkler 1/35 0/0",
    "zzzzzz": "(no match) - 0/36 0/0",
}


@pytest.fixture(scope="module")
def lookups(corpus: Path) -> str:
    return report(corpus, *(arg for word in LOOKUPS for arg in ("--word", word)))


@pytest.mark.parametrize("word", LOOKUPS)
def test_synthetic_lookup(lookups: str, word: str) -> None:
    assert lookup_row(lookups, word) == LOOKUPS[word].split()


def test_summary_counts(lookups: str) -> None:
    m = search(r"^3\. Summary: (\d+) comparisons in [\d.]+ s wall time \((.+)\)$", lookups)
    kinds = {k: int(n) for k, n in (part.split() for part in m.group(2).split(", "))}
    assert kinds["minhash"] == 3  # pairs of the three distinct documents
    assert kinds["simhash"] == 3 + 1  # all pairs plus the closest pair of the one family
    assert kinds["tfidf"] == kinds["bm25"] == 3 + 2
    assert kinds["intent"] == 4 * kinds["flow"]
    assert int(m.group(1)) == sum(kinds.values())


@pytest.mark.parametrize(
    ("target", "args", "code", "message"),
    [
        ("missing", [], 2, "not a directory"),
        ("file.txt", [], 2, "not a directory"),
        ("empty", [], 1, "no text files"),
        ("empty", ["--shingle", "6"], 2, "invalid choice"),
    ],
)
def test_bad_input(tmp_path: Path, target: str, args: list[str], code: int, message: str) -> None:
    (tmp_path / "file.txt").write_text("x")
    (tmp_path / "empty").mkdir()
    done = run(tmp_path / target, *args)
    assert done.returncode == code
    assert message in done.stderr
