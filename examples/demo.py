"""A short tour of vorn on a few record-linkage style pairs."""

import vorn

PAIRS = [
    ("kitten", "sitting"),
    ("Jon Smith", "John Smith"),
    ("Zoë Saldaña", "Zoe Saldana"),
    ("Levenshtein", "Levenstein"),
]


def main() -> None:
    print(f"{'a':<14}{'b':<14}{'distance':>9}{'similarity':>12}")
    for a, b in PAIRS:
        d = vorn.levenshtein_distance(a, b)
        s = vorn.levenshtein_similarity(a, b)
        print(f"{a:<14}{b:<14}{d:>9}{s:>12.4f}")


if __name__ == "__main__":
    main()
