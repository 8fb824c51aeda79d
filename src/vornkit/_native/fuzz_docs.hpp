// Docstrings of vornkit.fuzz and vornkit.distance, in the NumPy style, each
// behind the text signature that inspect.signature reads. tests/test_docs.py
// requires their sections and runs their examples.
#pragma once

namespace vornkit::native::docs {

// The text signature: "name(...)" and the "--" line that ends it.
#define VORNKIT_DOC_SIGNATURE(function, option) \
    function "(s1, s2, *" option ", processor=None, score_cutoff=None, score_hint=None)\n--\n\n"

// The sections every fuzz scorer shares.
#define VORNKIT_DOC_FUZZ_SECTIONS                                              \
    "Parameters\n"                                                             \
    "----------\n"                                                             \
    "s1, s2 : str or None\n"                                                   \
    "    The texts; a pair with a None string scores 0.\n"                     \
    "processor : vorn.Preprocessor or callable, optional\n"                    \
    "    Applied once to each string first (``utils.default_process`` is\n"    \
    "    RapidFuzz's usual one).\n"                                            \
    "score_cutoff : float, optional\n"                                         \
    "    A score below it is 0; a score that reaches it is kept.\n"            \
    "score_hint : float, optional\n"                                           \
    "    Accepted for RapidFuzz's signature; it does not change the result.\n" \
    "\n"                                                                       \
    "Returns\n"                                                                \
    "-------\n"                                                                \
    "float\n"                                                                  \
    "    The score in [0, 100], equal to RapidFuzz 3.14's.\n"                  \
    "\n"                                                                       \
    "Examples\n"                                                               \
    "--------\n"                                                               \
    ">>> from vornkit import fuzz\n"

// The keywords every distance form shares, of its score type and cutoff rule.
#define VORNKIT_DOC_METRIC_KEYWORDS(type, cutoff_rule)                           \
    "processor : vorn.Preprocessor or callable, optional\n"                      \
    "    Applied once to each string first.\n"                                   \
    "score_cutoff : " type                                                       \
    ", optional\n"                                                               \
    "    " cutoff_rule                                                           \
    "\n"                                                                         \
    "score_hint : " type                                                         \
    ", optional\n"                                                               \
    "    Accepted for RapidFuzz's signature; it does not change the result.\n\n" \
    "Returns\n-------\n" type "\n"

// Where a None string is a TypeError (the unnormalized forms).
#define VORNKIT_DOC_RAISES_NONE "\nRaises\n------\nTypeError\n    A string that is None.\n"

inline constexpr char fuzz_ratio[] =
    VORNKIT_DOC_SIGNATURE("ratio", "")
    "The normalized Indel similarity of s1 and s2, scaled to [0, 100].\n"
    "\n"
    VORNKIT_DOC_FUZZ_SECTIONS
    ">>> fuzz.ratio(\"this is a test\", \"this is a test!\")\n"
    "96.55172413793103\n";

inline constexpr char fuzz_partial_ratio[] =
    VORNKIT_DOC_SIGNATURE("partial_ratio", "")
    "The best ``ratio`` of the shorter text against any window of the longer one of its length.\n"
    "\n"
    VORNKIT_DOC_FUZZ_SECTIONS
    ">>> fuzz.partial_ratio(\"this is a test\", \"this is a test!\")\n"
    "100.0\n";

inline constexpr char fuzz_token_sort_ratio[] =
    VORNKIT_DOC_SIGNATURE("token_sort_ratio", "")
    "The ``ratio`` of the two texts with their words sorted.\n"
    "\n"
    VORNKIT_DOC_FUZZ_SECTIONS
    ">>> fuzz.token_sort_ratio(\"fuzzy wuzzy was a bear\", \"wuzzy fuzzy was a bear\")\n"
    "100.0\n";

inline constexpr char fuzz_token_set_ratio[] =
    VORNKIT_DOC_SIGNATURE("token_set_ratio", "")
    "The ``ratio`` of the two texts' sets of words: the common words against each text's\n"
    "common and remaining words, the best of the comparisons.\n"
    "\n"
    VORNKIT_DOC_FUZZ_SECTIONS
    ">>> fuzz.token_set_ratio(\"fuzzy was a bear\", \"fuzzy fuzzy was a bear\")\n"
    "100.0\n";

inline constexpr char fuzz_token_ratio[] =
    VORNKIT_DOC_SIGNATURE("token_ratio", "")
    "The better of ``token_sort_ratio`` and ``token_set_ratio``, computed together.\n"
    "\n"
    VORNKIT_DOC_FUZZ_SECTIONS
    ">>> fuzz.token_ratio(\"fuzzy wuzzy was a bear\", \"wuzzy fuzzy was a bear\")\n"
    "100.0\n";

inline constexpr char fuzz_partial_token_sort_ratio[] =
    VORNKIT_DOC_SIGNATURE("partial_token_sort_ratio", "")
    "The ``partial_ratio`` of the two texts with their words sorted.\n"
    "\n"
    VORNKIT_DOC_FUZZ_SECTIONS
    ">>> fuzz.partial_token_sort_ratio(\"this is a test\", \"this is a test!\")\n"
    "92.85714285714286\n";

inline constexpr char fuzz_partial_token_set_ratio[] =
    VORNKIT_DOC_SIGNATURE("partial_token_set_ratio", "")
    "The ``partial_ratio`` of the two texts' sets of words; 100 when they share a word.\n"
    "\n"
    VORNKIT_DOC_FUZZ_SECTIONS
    ">>> fuzz.partial_token_set_ratio(\"this is a test\", \"this is a test!\")\n"
    "100.0\n";

inline constexpr char fuzz_partial_token_ratio[] =
    VORNKIT_DOC_SIGNATURE("partial_token_ratio", "")
    "The better of ``partial_token_sort_ratio`` and ``partial_token_set_ratio``.\n"
    "\n"
    VORNKIT_DOC_FUZZ_SECTIONS
    ">>> fuzz.partial_token_ratio(\"this is a test\", \"this is a test!\")\n"
    "100.0\n";

inline constexpr char fuzz_wratio[] =
    VORNKIT_DOC_SIGNATURE("WRatio", "")
    "A weighted blend of the ratios above, chosen by the texts' length ratio, as RapidFuzz\n"
    "weighs them.\n"
    "\n"
    VORNKIT_DOC_FUZZ_SECTIONS
    ">>> fuzz.WRatio(\"fuzzy wuzzy was a bear\", \"wuzzy fuzzy was a bear\")\n"
    "95.0\n";

inline constexpr char fuzz_qratio[] =
    VORNKIT_DOC_SIGNATURE("QRatio", "")
    "``ratio``, except that a pair with an empty string scores 0.\n"
    "\n"
    VORNKIT_DOC_FUZZ_SECTIONS
    ">>> fuzz.QRatio(\"this is a test\", \"this is a test!\")\n"
    "96.55172413793103\n";

inline constexpr char levenshtein_distance[] =
    VORNKIT_DOC_SIGNATURE("levenshtein_distance", ", weights=(1, 1, 1)")
    "The Levenshtein distance: the fewest insertions, deletions and substitutions (each at its weight) turning s1 into s2.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    "weights : (int, int, int), default (1, 1, 1)\n"
    "    The costs of an insertion, a deletion and a substitution.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A distance above it gives ``score_cutoff + 1``.")
    "    Equal to RapidFuzz 3.14's ``Levenshtein.distance``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Levenshtein\n"
    ">>> Levenshtein.distance(\"kitten\", \"sitting\")\n"
    "3\n";

inline constexpr char levenshtein_similarity[] =
    VORNKIT_DOC_SIGNATURE("levenshtein_similarity", ", weights=(1, 1, 1)")
    "The Levenshtein similarity: the fewest insertions, deletions and substitutions (each at its weight) turning s1 into s2.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    "weights : (int, int, int), default (1, 1, 1)\n"
    "    The costs of an insertion, a deletion and a substitution.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``Levenshtein.similarity``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Levenshtein\n"
    ">>> Levenshtein.similarity(\"kitten\", \"sitting\")\n"
    "4\n";

inline constexpr char levenshtein_normalized_distance[] =
    VORNKIT_DOC_SIGNATURE("levenshtein_normalized_distance", ", weights=(1, 1, 1)")
    "The Levenshtein distance divided by its largest possible value, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 1.0.\n"
    "weights : (int, int, int), default (1, 1, 1)\n"
    "    The costs of an insertion, a deletion and a substitution.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A distance above it gives 1.0.")
    "    Equal to RapidFuzz 3.14's ``Levenshtein.normalized_distance``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Levenshtein\n"
    ">>> Levenshtein.normalized_distance(\"kitten\", \"sitting\")\n"
    "0.42857142857142855\n";

inline constexpr char levenshtein_normalized_similarity[] =
    VORNKIT_DOC_SIGNATURE("levenshtein_normalized_similarity", ", weights=(1, 1, 1)")
    "1 minus the normalized Levenshtein distance, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 0.0.\n"
    "weights : (int, int, int), default (1, 1, 1)\n"
    "    The costs of an insertion, a deletion and a substitution.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``Levenshtein.normalized_similarity``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Levenshtein\n"
    ">>> Levenshtein.normalized_similarity(\"kitten\", \"sitting\")\n"
    "0.5714285714285714\n";

inline constexpr char indel_distance[] =
    VORNKIT_DOC_SIGNATURE("indel_distance", "")
    "The Indel distance: the fewest insertions and deletions turning s1 into s2.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A distance above it gives ``score_cutoff + 1``.")
    "    Equal to RapidFuzz 3.14's ``Indel.distance``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Indel\n"
    ">>> Indel.distance(\"kitten\", \"sitting\")\n"
    "5\n";

inline constexpr char indel_similarity[] =
    VORNKIT_DOC_SIGNATURE("indel_similarity", "")
    "The Indel similarity: the fewest insertions and deletions turning s1 into s2.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``Indel.similarity``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Indel\n"
    ">>> Indel.similarity(\"kitten\", \"sitting\")\n"
    "8\n";

inline constexpr char indel_normalized_distance[] =
    VORNKIT_DOC_SIGNATURE("indel_normalized_distance", "")
    "The Indel distance divided by its largest possible value, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 1.0.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A distance above it gives 1.0.")
    "    Equal to RapidFuzz 3.14's ``Indel.normalized_distance``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Indel\n"
    ">>> Indel.normalized_distance(\"kitten\", \"sitting\")\n"
    "0.38461538461538464\n";

inline constexpr char indel_normalized_similarity[] =
    VORNKIT_DOC_SIGNATURE("indel_normalized_similarity", "")
    "1 minus the normalized Indel distance, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 0.0.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``Indel.normalized_similarity``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Indel\n"
    ">>> Indel.normalized_similarity(\"kitten\", \"sitting\")\n"
    "0.6153846153846154\n";

inline constexpr char lcs_seq_distance[] =
    VORNKIT_DOC_SIGNATURE("lcs_seq_distance", "")
    "The LCSseq distance: the length of the longest common subsequence of s1 and s2, and the rest of the longer text as distance.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A distance above it gives ``score_cutoff + 1``.")
    "    Equal to RapidFuzz 3.14's ``LCSseq.distance``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import LCSseq\n"
    ">>> LCSseq.distance(\"kitten\", \"sitting\")\n"
    "3\n";

inline constexpr char lcs_seq_similarity[] =
    VORNKIT_DOC_SIGNATURE("lcs_seq_similarity", "")
    "The LCSseq similarity: the length of the longest common subsequence of s1 and s2, and the rest of the longer text as distance.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``LCSseq.similarity``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import LCSseq\n"
    ">>> LCSseq.similarity(\"kitten\", \"sitting\")\n"
    "4\n";

inline constexpr char lcs_seq_normalized_distance[] =
    VORNKIT_DOC_SIGNATURE("lcs_seq_normalized_distance", "")
    "The LCSseq distance divided by its largest possible value, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 1.0.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A distance above it gives 1.0.")
    "    Equal to RapidFuzz 3.14's ``LCSseq.normalized_distance``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import LCSseq\n"
    ">>> LCSseq.normalized_distance(\"kitten\", \"sitting\")\n"
    "0.42857142857142855\n";

inline constexpr char lcs_seq_normalized_similarity[] =
    VORNKIT_DOC_SIGNATURE("lcs_seq_normalized_similarity", "")
    "1 minus the normalized LCSseq distance, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 0.0.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``LCSseq.normalized_similarity``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import LCSseq\n"
    ">>> LCSseq.normalized_similarity(\"kitten\", \"sitting\")\n"
    "0.5714285714285714\n";

inline constexpr char osa_distance[] =
    VORNKIT_DOC_SIGNATURE("osa_distance", "")
    "The OSA distance: the optimal string alignment distance: insertions, deletions, substitutions and transpositions of\n"
    "adjacent characters, no substring edited twice.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A distance above it gives ``score_cutoff + 1``.")
    "    Equal to RapidFuzz 3.14's ``OSA.distance``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import OSA\n"
    ">>> OSA.distance(\"ca\", \"abc\")\n"
    "3\n";

inline constexpr char osa_similarity[] =
    VORNKIT_DOC_SIGNATURE("osa_similarity", "")
    "The OSA similarity: the optimal string alignment distance: insertions, deletions, substitutions and transpositions of\n"
    "adjacent characters, no substring edited twice.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``OSA.similarity``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import OSA\n"
    ">>> OSA.similarity(\"ca\", \"abc\")\n"
    "0\n";

inline constexpr char osa_normalized_distance[] =
    VORNKIT_DOC_SIGNATURE("osa_normalized_distance", "")
    "The OSA distance divided by its largest possible value, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 1.0.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A distance above it gives 1.0.")
    "    Equal to RapidFuzz 3.14's ``OSA.normalized_distance``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import OSA\n"
    ">>> OSA.normalized_distance(\"ca\", \"abc\")\n"
    "1.0\n";

inline constexpr char osa_normalized_similarity[] =
    VORNKIT_DOC_SIGNATURE("osa_normalized_similarity", "")
    "1 minus the normalized OSA distance, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 0.0.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``OSA.normalized_similarity``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import OSA\n"
    ">>> OSA.normalized_similarity(\"ca\", \"abc\")\n"
    "0.0\n";

inline constexpr char damerau_levenshtein_distance[] =
    VORNKIT_DOC_SIGNATURE("damerau_levenshtein_distance", "")
    "The DamerauLevenshtein distance: the Damerau-Levenshtein distance: insertions, deletions, substitutions and transpositions of\n"
    "adjacent characters, without the restriction of OSA.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A distance above it gives ``score_cutoff + 1``.")
    "    Equal to RapidFuzz 3.14's ``DamerauLevenshtein.distance``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import DamerauLevenshtein\n"
    ">>> DamerauLevenshtein.distance(\"ca\", \"abc\")\n"
    "2\n";

inline constexpr char damerau_levenshtein_similarity[] =
    VORNKIT_DOC_SIGNATURE("damerau_levenshtein_similarity", "")
    "The DamerauLevenshtein similarity: the Damerau-Levenshtein distance: insertions, deletions, substitutions and transpositions of\n"
    "adjacent characters, without the restriction of OSA.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``DamerauLevenshtein.similarity``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import DamerauLevenshtein\n"
    ">>> DamerauLevenshtein.similarity(\"ca\", \"abc\")\n"
    "1\n";

inline constexpr char damerau_levenshtein_normalized_distance[] =
    VORNKIT_DOC_SIGNATURE("damerau_levenshtein_normalized_distance", "")
    "The DamerauLevenshtein distance divided by its largest possible value, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 1.0.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A distance above it gives 1.0.")
    "    Equal to RapidFuzz 3.14's ``DamerauLevenshtein.normalized_distance``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import DamerauLevenshtein\n"
    ">>> DamerauLevenshtein.normalized_distance(\"ca\", \"abc\")\n"
    "0.6666666666666666\n";

inline constexpr char damerau_levenshtein_normalized_similarity[] =
    VORNKIT_DOC_SIGNATURE("damerau_levenshtein_normalized_similarity", "")
    "1 minus the normalized DamerauLevenshtein distance, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 0.0.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``DamerauLevenshtein.normalized_similarity``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import DamerauLevenshtein\n"
    ">>> DamerauLevenshtein.normalized_similarity(\"ca\", \"abc\")\n"
    "0.33333333333333337\n";

inline constexpr char hamming_distance[] =
    VORNKIT_DOC_SIGNATURE("hamming_distance", ", pad=True")
    "The Hamming distance: the number of positions at which s1 and s2 differ.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    "pad : bool, default True\n"
    "    Count each position the shorter text lacks as a difference; with False, texts of\n"
    "    different lengths raise ValueError.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A distance above it gives ``score_cutoff + 1``.")
    "    Equal to RapidFuzz 3.14's ``Hamming.distance``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Hamming\n"
    ">>> Hamming.distance(\"karolin\", \"kathrin\")\n"
    "3\n";

inline constexpr char hamming_similarity[] =
    VORNKIT_DOC_SIGNATURE("hamming_similarity", ", pad=True")
    "The Hamming similarity: the number of positions at which s1 and s2 differ.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    "pad : bool, default True\n"
    "    Count each position the shorter text lacks as a difference; with False, texts of\n"
    "    different lengths raise ValueError.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``Hamming.similarity``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Hamming\n"
    ">>> Hamming.similarity(\"karolin\", \"kathrin\")\n"
    "4\n";

inline constexpr char hamming_normalized_distance[] =
    VORNKIT_DOC_SIGNATURE("hamming_normalized_distance", ", pad=True")
    "The Hamming distance divided by its largest possible value, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 1.0.\n"
    "pad : bool, default True\n"
    "    Count each position the shorter text lacks as a difference; with False, texts of\n"
    "    different lengths raise ValueError.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A distance above it gives 1.0.")
    "    Equal to RapidFuzz 3.14's ``Hamming.normalized_distance``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Hamming\n"
    ">>> Hamming.normalized_distance(\"karolin\", \"kathrin\")\n"
    "0.42857142857142855\n";

inline constexpr char hamming_normalized_similarity[] =
    VORNKIT_DOC_SIGNATURE("hamming_normalized_similarity", ", pad=True")
    "1 minus the normalized Hamming distance, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 0.0.\n"
    "pad : bool, default True\n"
    "    Count each position the shorter text lacks as a difference; with False, texts of\n"
    "    different lengths raise ValueError.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``Hamming.normalized_similarity``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Hamming\n"
    ">>> Hamming.normalized_similarity(\"karolin\", \"kathrin\")\n"
    "0.5714285714285714\n";

inline constexpr char prefix_distance[] =
    VORNKIT_DOC_SIGNATURE("prefix_distance", "")
    "The Prefix distance: the length of the common prefix of s1 and s2 as similarity, the rest of the longer text as distance.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A distance above it gives ``score_cutoff + 1``.")
    "    Equal to RapidFuzz 3.14's ``Prefix.distance``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Prefix\n"
    ">>> Prefix.distance(\"prefix\", \"preface\")\n"
    "3\n";

inline constexpr char prefix_similarity[] =
    VORNKIT_DOC_SIGNATURE("prefix_similarity", "")
    "The Prefix similarity: the length of the common prefix of s1 and s2 as similarity, the rest of the longer text as distance.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``Prefix.similarity``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Prefix\n"
    ">>> Prefix.similarity(\"prefix\", \"preface\")\n"
    "4\n";

inline constexpr char prefix_normalized_distance[] =
    VORNKIT_DOC_SIGNATURE("prefix_normalized_distance", "")
    "The Prefix distance divided by its largest possible value, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 1.0.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A distance above it gives 1.0.")
    "    Equal to RapidFuzz 3.14's ``Prefix.normalized_distance``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Prefix\n"
    ">>> Prefix.normalized_distance(\"prefix\", \"preface\")\n"
    "0.42857142857142855\n";

inline constexpr char prefix_normalized_similarity[] =
    VORNKIT_DOC_SIGNATURE("prefix_normalized_similarity", "")
    "1 minus the normalized Prefix distance, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 0.0.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``Prefix.normalized_similarity``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Prefix\n"
    ">>> Prefix.normalized_similarity(\"prefix\", \"preface\")\n"
    "0.5714285714285714\n";

inline constexpr char postfix_distance[] =
    VORNKIT_DOC_SIGNATURE("postfix_distance", "")
    "The Postfix distance: the length of the common suffix of s1 and s2 as similarity, the rest of the longer text as distance.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A distance above it gives ``score_cutoff + 1``.")
    "    Equal to RapidFuzz 3.14's ``Postfix.distance``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Postfix\n"
    ">>> Postfix.distance(\"running\", \"jumping\")\n"
    "4\n";

inline constexpr char postfix_similarity[] =
    VORNKIT_DOC_SIGNATURE("postfix_similarity", "")
    "The Postfix similarity: the length of the common suffix of s1 and s2 as similarity, the rest of the longer text as distance.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("int", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``Postfix.similarity``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Postfix\n"
    ">>> Postfix.similarity(\"running\", \"jumping\")\n"
    "3\n";

inline constexpr char postfix_normalized_distance[] =
    VORNKIT_DOC_SIGNATURE("postfix_normalized_distance", "")
    "The Postfix distance divided by its largest possible value, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 1.0.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A distance above it gives 1.0.")
    "    Equal to RapidFuzz 3.14's ``Postfix.normalized_distance``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Postfix\n"
    ">>> Postfix.normalized_distance(\"running\", \"jumping\")\n"
    "0.5714285714285714\n";

inline constexpr char postfix_normalized_similarity[] =
    VORNKIT_DOC_SIGNATURE("postfix_normalized_similarity", "")
    "1 minus the normalized Postfix distance, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 0.0.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``Postfix.normalized_similarity``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Postfix\n"
    ">>> Postfix.normalized_similarity(\"running\", \"jumping\")\n"
    "0.4285714285714286\n";

inline constexpr char jaro_distance[] =
    VORNKIT_DOC_SIGNATURE("jaro_distance", "")
    "The Jaro distance: the Jaro similarity of s1 and s2, in [0, 1], and 1 minus it as distance.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A distance above it gives 1.0.")
    "    Equal to RapidFuzz 3.14's ``Jaro.distance``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Jaro\n"
    ">>> Jaro.distance(\"MARTHA\", \"MARHTA\")\n"
    "0.05555555555555547\n";

inline constexpr char jaro_similarity[] =
    VORNKIT_DOC_SIGNATURE("jaro_similarity", "")
    "The Jaro similarity: the Jaro similarity of s1 and s2, in [0, 1], and 1 minus it as distance.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``Jaro.similarity``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Jaro\n"
    ">>> Jaro.similarity(\"MARTHA\", \"MARHTA\")\n"
    "0.9444444444444445\n";

inline constexpr char jaro_normalized_distance[] =
    VORNKIT_DOC_SIGNATURE("jaro_normalized_distance", "")
    "The Jaro distance divided by its largest possible value, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 1.0.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A distance above it gives 1.0.")
    "    Equal to RapidFuzz 3.14's ``Jaro.normalized_distance``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Jaro\n"
    ">>> Jaro.normalized_distance(\"MARTHA\", \"MARHTA\")\n"
    "0.05555555555555547\n";

inline constexpr char jaro_normalized_similarity[] =
    VORNKIT_DOC_SIGNATURE("jaro_normalized_similarity", "")
    "1 minus the normalized Jaro distance, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 0.0.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``Jaro.normalized_similarity``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import Jaro\n"
    ">>> Jaro.normalized_similarity(\"MARTHA\", \"MARHTA\")\n"
    "0.9444444444444445\n";

inline constexpr char jaro_winkler_distance[] =
    VORNKIT_DOC_SIGNATURE("jaro_winkler_distance", ", prefix_weight=0.1")
    "The JaroWinkler distance: the Jaro-Winkler similarity of s1 and s2, in [0, 1], and 1 minus it as distance.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    "prefix_weight : float, default 0.1\n"
    "    The bonus per character of common prefix (at most 4), given when the Jaro similarity\n"
    "    is above 0.7, as in RapidFuzz.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A distance above it gives 1.0.")
    "    Equal to RapidFuzz 3.14's ``JaroWinkler.distance``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import JaroWinkler\n"
    ">>> JaroWinkler.distance(\"MARTHA\", \"MARHTA\")\n"
    "0.03888888888888886\n";

inline constexpr char jaro_winkler_similarity[] =
    VORNKIT_DOC_SIGNATURE("jaro_winkler_similarity", ", prefix_weight=0.1")
    "The JaroWinkler similarity: the Jaro-Winkler similarity of s1 and s2, in [0, 1], and 1 minus it as distance.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str\n"
    "    The texts.\n"
    "prefix_weight : float, default 0.1\n"
    "    The bonus per character of common prefix (at most 4), given when the Jaro similarity\n"
    "    is above 0.7, as in RapidFuzz.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``JaroWinkler.similarity``.\n"
    VORNKIT_DOC_RAISES_NONE
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import JaroWinkler\n"
    ">>> JaroWinkler.similarity(\"MARTHA\", \"MARHTA\")\n"
    "0.9611111111111111\n";

inline constexpr char jaro_winkler_normalized_distance[] =
    VORNKIT_DOC_SIGNATURE("jaro_winkler_normalized_distance", ", prefix_weight=0.1")
    "The JaroWinkler distance divided by its largest possible value, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 1.0.\n"
    "prefix_weight : float, default 0.1\n"
    "    The bonus per character of common prefix (at most 4), given when the Jaro similarity\n"
    "    is above 0.7, as in RapidFuzz.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A distance above it gives 1.0.")
    "    Equal to RapidFuzz 3.14's ``JaroWinkler.normalized_distance``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import JaroWinkler\n"
    ">>> JaroWinkler.normalized_distance(\"MARTHA\", \"MARHTA\")\n"
    "0.03888888888888886\n";

inline constexpr char jaro_winkler_normalized_similarity[] =
    VORNKIT_DOC_SIGNATURE("jaro_winkler_normalized_similarity", ", prefix_weight=0.1")
    "1 minus the normalized JaroWinkler distance, in [0, 1].\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "s1, s2 : str or None\n"
    "    The texts; a pair with a None string scores 0.0.\n"
    "prefix_weight : float, default 0.1\n"
    "    The bonus per character of common prefix (at most 4), given when the Jaro similarity\n"
    "    is above 0.7, as in RapidFuzz.\n"
    VORNKIT_DOC_METRIC_KEYWORDS("float", "A similarity below it gives 0.")
    "    Equal to RapidFuzz 3.14's ``JaroWinkler.normalized_similarity``.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from vornkit.distance import JaroWinkler\n"
    ">>> JaroWinkler.normalized_similarity(\"MARTHA\", \"MARHTA\")\n"
    "0.9611111111111111\n";

#undef VORNKIT_DOC_SIGNATURE
#undef VORNKIT_DOC_FUZZ_SECTIONS
#undef VORNKIT_DOC_METRIC_KEYWORDS
#undef VORNKIT_DOC_RAISES_NONE

}  // namespace vornkit::native::docs
